// Helpers for the wizard's tests: a scratch world (HOME, TMPDIR and the current directory
// all inside one fresh directory, English texts, a UTF-8 locale), kits written into it,
// settings files, a stand-in "xdg-open", the display check, an answerer that responds to the
// message windows the code under test opens, and layout checks.

#ifndef UI_UI_TEST_SUPPORT_H_
#define UI_UI_TEST_SUPPORT_H_

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "fs/environment_override.h"
#include "kit/kit_test_support.h"
#include "kit/kit_writer.h"
#include "text/wide_string.h"

// root/home is HOME, root/tmp is TMPDIR, root/work is the current directory, for the
// object's lifetime; the language is English and LC_ALL is C.UTF-8. Everything is undone
// and removed on destruction.
class WizardScratch {
 public:
  WizardScratch();
  ~WizardScratch();
  WizardScratch(const WizardScratch&) = delete;
  WizardScratch& operator=(const WizardScratch&) = delete;

  std::string Path(const std::string& name) const { return kit_scratch_.Path(name); }
  std::string Home() const { return Path("home"); }
  std::string Work() const { return Path("work"); }
  // The default template directory below the scratch home, with its trailing "/".
  std::string DefaultTarget() const { return Home() + "/.tavlo5/Tavlo/tavlo5/tmplts/"; }
  std::string UserSettingsPath() const { return Home() + "/.Tavlo/tavlostart/tavlostart.cfg"; }
  std::string AltSettingsPath() const { return Home() + "/.Tavlo/tavlostartt/tavlostart.cfg"; }

  // Writes a settings file (making its directory) with one line per text.
  static void WriteSettings(const std::string& path, const std::vector<std::string>& lines);

 private:
  KitScratch kit_scratch_;  // TMPDIR = root/tmp
  std::unique_ptr<EnvironmentOverride> home_;
  std::unique_ptr<EnvironmentOverride> locale_;
  std::string old_directory_;
};

// A kit of three template files (two in a sub-directory) and the description document
// "description.htm", with an English description of product and vendor. Returns its
// writer so tests can add to it.
KitWriter DemoKitWriter(const std::string& product = "Demo", const std::string& vendor = "Vendor");
// The relative names of the files the demo kit installs.
std::vector<std::string> DemoKitFiles();
// Writes the writer's kit to path; fails the calling test on error.
void WriteKitFile(const KitWriter& writer, const std::string& path);

bool FileExists(const std::string& path);
// The file's bytes, or an empty string when it cannot be read.
std::string ReadText(const std::string& path);

// While it lives, an "xdg-open" first on PATH that only writes the argument it was given to
// RecordPath(), so tests see what would have been opened without opening anything. Its
// script and record live in the scratch, which must outlive it; throws when it cannot be
// put in place.
class XdgOpenStandIn {
 public:
  explicit XdgOpenStandIn(const WizardScratch& scratch);
  XdgOpenStandIn(const XdgOpenStandIn&) = delete;
  XdgOpenStandIn& operator=(const XdgOpenStandIn&) = delete;

  const std::string& RecordPath() const { return record_; }

 private:
  std::string record_;
  std::unique_ptr<EnvironmentOverride> path_;
};

// Whether GTK can open a display in this process (tried once).
bool DisplayAvailable();
// Handles every pending GTK event.
void DrainEvents();

// What an answered message window showed.
struct SeenMessage {
  std::string text;
  std::string title;
  GtkMessageType type;
  std::vector<gint> buttons;  // the responses of its action buttons, in order
};

// Responds to message windows while it lives: each one that appears gets the next response
// of the list (GTK_RESPONSE_DELETE_EVENT once the list is used up) and is recorded. It looks
// for them from a short GLib timer, so it works inside gtk_dialog_run's own loop.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(std::vector<gint> responses);
  ~MessageBoxAnswerer();
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

  const std::vector<SeenMessage>& seen() const { return seen_; }

 private:
  static gboolean Poll(gpointer self);

  std::vector<gint> responses_;
  std::vector<SeenMessage> seen_;
  guint timer_;
};

// The text of a label or a button.
std::string LabelText(GtkWidget* label_or_button);
// The position of a child of a GtkFixed.
void FixedPosition(GtkWidget* fixed, GtkWidget* child, int* x, int* y);
// Expects the child of the GtkFixed to be placed at (x, y).
void ExpectAt(GtkWidget* fixed, GtkWidget* child, int x, int y);
// Expects the widget's size request to be width by height.
void ExpectRequestedSize(GtkWidget* widget, int width, int height);
// Expects, for the shown children of the laid-out GtkFixed: that each of them and each widget
// inside them (a button's label) is given at least its natural size, so nothing is cut; that
// each stays inside the container; and that no two cover each other. A label counts with the
// part of its allocation its text takes at its alignment (the wizard's text labels are taller
// than their texts, and the success page's check box sits inside its label's area). where
// names the case in the failure messages.
void ExpectNothingCutOrCovered(GtkWidget* fixed, const std::string& where);

#endif  // UI_UI_TEST_SUPPORT_H_
