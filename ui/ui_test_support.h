// Helpers for the wizard's tests, built on testing/: a scratch world with English texts, a
// stand-in "xdg-open", the display check, an answerer that responds to the message windows
// the code under test opens, and layout checks.

#ifndef UI_UI_TEST_SUPPORT_H_
#define UI_UI_TEST_SUPPORT_H_

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "testing/environment_override.h"
#include "testing/language_override.h"
#include "testing/scratch_home.h"
#include "testing/stand_in_commands.h"

// A ScratchHome in which LoadText gives the English texts. The dialog sets LANGUAGE for GTK's
// own words; the scratch puts the variable back, so no test leaves its language to the next.
class WizardScratch : public ScratchHome {
 private:
  LanguageOverride english_{"en"};
  EnvironmentOverride gtk_language_{"LANGUAGE", nullptr};
};

// While it lives, an "xdg-open" first on PATH that only writes the argument it was given to
// RecordPath(), so tests see what would have been opened without opening anything. Its
// script and record live in the scratch, which must outlive it; throws when it cannot be
// put in place.
class XdgOpenStandIn {
 public:
  explicit XdgOpenStandIn(const ScratchDirectory& scratch);
  XdgOpenStandIn(const XdgOpenStandIn&) = delete;
  XdgOpenStandIn& operator=(const XdgOpenStandIn&) = delete;

  const std::string& RecordPath() const { return record_; }

 private:
  std::string record_;
  StandInCommands stand_ins_;
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
