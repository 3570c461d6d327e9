// The installer dialog over whole runs, with real kits, settings files and template trees in
// a scratch home. Silent runs work with or without a display (without one, the messages go
// to standard error); the window, the page sequence and the button states need a display
// and are skipped without one.

#include "ui/installer_dlg.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/string_table.h"
#include "install/install_job.h"
#include "testing/environment_override.h"
#include "testing/kit_builders.h"
#include "testing/language_override.h"
#include "testing/locale_override.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"
#include "ui/progress_page.h"
#include "ui/ui_test_support.h"
#include "ui/wizard_test_access.h"

namespace {

constexpr const char* kCaption = "Installing configuration";
constexpr const char* kKey = "ConfigurationTemplatesLocation=";

using Wizard = WizardTestAccess;

class InstallerDlgTest : public ::testing::Test {
 protected:
  std::unique_ptr<CInstallerDlg> MakeDialog(bool silent, const WideString& language = u"en") {
    return std::unique_ptr<CInstallerDlg>(new CInstallerDlg(
        1, argv_, silent, NarrowString(kCaption), WideString(language), true));
  }

  void WriteDemoKit(const std::string& product = "Demo", const std::string& vendor = "Vendor") {
    WriteKitFile(DemoKitWriter(product, vendor), scratch_.Work() + "/tavlo5.efd");
  }

  void ExpectInstalledIn(const std::string& directory) {
    for (const std::string& name : DemoKitFiles()) {
      EXPECT_TRUE(Exists(directory + "/" + name)) << directory << "/" << name;
    }
  }

  // A directory below a regular file: none can be made there, so an installation into it
  // typed on the directory page fails (as a settings location it fails the probe).
  std::string UnmakeableLocation() {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("blocker"), PatternBytes(4, 2)));
    return scratch_.Child("blocker/templates");
  }

  // An existing template directory with a directory where the kit has a file: it passes the
  // writability probe, and the installation fails at that entry.
  std::string FailingLocation() {
    const std::string location = scratch_.Child("blocked");
    EXPECT_TRUE(MakeDirectories(location + "/" + DemoKitFiles()[0]));
    return location;
  }

  // Runs the dialog, which must show exactly one message, and returns it: answered in its
  // message box when there is a display (an error box titled with the caption), read from
  // standard error (the caption, then the text) when there is none.
  std::string RunAndTakeTheOneMessage(CInstallerDlg* dialog) {
    if (DisplayAvailable()) {
      MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
      dialog->Run();
      EXPECT_EQ(answerer.seen().size(), 1u);
      if (answerer.seen().empty()) return "";
      EXPECT_EQ(answerer.seen()[0].title, kCaption);
      return answerer.seen()[0].text;
    }
    testing::internal::CaptureStderr();
    dialog->Run();
    const std::string output = testing::internal::GetCapturedStderr();
    const std::string head = std::string(kCaption) + "\n";
    EXPECT_EQ(output.compare(0, head.size(), head), 0) << output;
    EXPECT_EQ(output.back(), '\n') << output;
    // The text's line; the cause's line, where there is one, follows it.
    const std::size_t end = output.find('\n', head.size());
    if (end == std::string::npos || end + 1 < output.size()) {
      last_cause_ = end == std::string::npos ? "" : output.substr(end + 1);
    } else {
      last_cause_.clear();
    }
    return output.size() > head.size() ? output.substr(head.size(), end - head.size()) : "";
  }

  // The line after the message's, from the last run without a display.
  std::string last_cause_;

  WizardScratch scratch_;
  char program_[8] = "ui_test";
  char* argv_[2] = {program_, nullptr};
};

TEST_F(InstallerDlgTest, TitleIsTheCaption) {
  auto dialog = MakeDialog(true);
  EXPECT_EQ(AsciiOf(dialog->GetTitle()), kCaption);
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kNoPage);
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
}

TEST_F(InstallerDlgTest, SilentRunInstallsAndRecordsTheDirectory) {
  WriteDemoKit();
  // A display named (one that cannot be reached, where there is none): the checks run on
  // their own thread beside GTK's start.
  EnvironmentOverride display("DISPLAY", DisplayAvailable() ? std::getenv("DISPLAY") : ":65533");
  auto dialog = MakeDialog(true);
  dialog->Run();
  ExpectInstalledIn(scratch_.DefaultTarget());
  std::string recorded = scratch_.DefaultTarget();
  recorded.pop_back();
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), std::string(kKey) + recorded + "\n");
  if (DisplayAvailable()) {
    EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  } else {
    EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  }
}

TEST_F(InstallerDlgTest, SilentRunFailureShowsTheWorkersTextAndRecordsNothing) {
  WriteDemoKit();
  const std::vector<std::string> settings = {std::string(kKey) + FailingLocation()};
  WizardScratch::WriteSettings(scratch_.UserSettingsPath(), settings);
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()), "Installation error");
  if (DisplayAvailable()) {
    EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kErrorPage);
  }
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), settings[0] + "\n");
}

// The settings cannot take the installed directory (a regular file stands where their
// directory belongs): the run stays a success, and says what was not recorded, where and
// why, in the message box, or on standard error without a display.
TEST_F(InstallerDlgTest, AFailedRecordIsReportedAndTheRunStaysASuccess) {
  WriteDemoKit();
  ASSERT_TRUE(MakeDirectories(scratch_.Home() + "/.Tavlo"));
  ASSERT_TRUE(WriteWholeFile(scratch_.Home() + "/.Tavlo/tavlostart", PatternBytes(3, 1)));
  auto dialog = MakeDialog(true);
  std::string message;
  if (DisplayAvailable()) {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    dialog->Run();
    ASSERT_EQ(answerer.seen().size(), 1u);
    message = answerer.seen()[0].text;
    EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  } else {
    testing::internal::CaptureStderr();
    dialog->Run();
    const std::string output = testing::internal::GetCapturedStderr();
    ASSERT_EQ(output.compare(0, 7, "setup: "), 0) << output;
    ASSERT_EQ(output.back(), '\n');
    message = output.substr(7, output.size() - 8);
  }
  ExpectInstalledIn(scratch_.DefaultTarget());
  EXPECT_EQ(message,
            "The templates were installed, but the template directory could not be recorded in "
            "the launcher's settings file:\n" +
                scratch_.UserSettingsPath() + ": " + std::strerror(ENOTDIR));
}

TEST_F(InstallerDlgTest, SilentRunWithEmptyTargetWritesNothing) {
  WriteDemoKit();
  WizardScratch::WriteSettings(scratch_.UserSettingsPath(),
                               {std::string(kKey) + "http://example/templates"});
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()),
            "Installation of templates to the current directory is not supported.");
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  for (const std::string& name : DemoKitFiles()) {
    EXPECT_FALSE(Exists(scratch_.Work() + "/" + name));
  }
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

TEST_F(InstallerDlgTest, FailedChecksEndTheRunWithoutAWindow) {
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()), "Distribution kit file tavlo5.efd not found.");
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kNoPage);
  if (!DisplayAvailable()) {
    // The cause: the path looked for and the system's reason.
    EXPECT_EQ(last_cause_, scratch_.Work() + "/tavlo5.efd: No such file or directory (ENOENT)\n");
  }
}

TEST_F(InstallerDlgTest, WithoutDisplayAndNotSilentOnlyReports) {
  auto dialog = MakeDialog(false);
  if (DisplayAvailable()) GTEST_SKIP() << "a display is open";
  testing::internal::CaptureStderr();
  dialog->Run();
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_NE(written.find("cannot open a display"), std::string::npos);
  // The checks did not run: they would have reported the missing kit.
  EXPECT_EQ(written.find("tavlo5.efd"), std::string::npos) << written;
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

// The interactive wizard; needs a display. A parametrised test takes the text size as its
// parameter (1.0: the default font).
class WizardWindowTest : public InstallerDlgTest, public ::testing::WithParamInterface<double> {
 protected:
  void SetUp() override {
    if (!DisplayAvailable()) GTEST_SKIP() << "no display";
  }

  // Checks, main window and welcome page, as Run does before the main loop.
  std::unique_ptr<CInstallerDlg> OpenWizard(const WideString& language = u"en") {
    auto dialog = MakeDialog(false, language);
    EXPECT_TRUE(dialog->RunPreinstallChecks());
    dialog->CreateMainWindow();
    dialog->ShowWelcomePage();
    DrainEvents();
    return dialog;
  }

  static void Click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }

  static bool Sensitive(GtkWidget* widget) { return gtk_widget_get_sensitive(widget) != FALSE; }
  static bool Visible(GtkWidget* widget) { return gtk_widget_get_visible(widget) != FALSE; }

  static void SendKey(GtkWidget* window, guint key_value) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = key_value;
    gtk_widget_event(window, event);
    gdk_event_free(event);
  }

  // What the window manager's close button sends.
  static void SendDelete(GtkWidget* window) {
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

  // Puts a stand-in "xdg-open" first on PATH for the rest of the test.
  void InstallXdgOpenStandIn() { xdg_open_.reset(new XdgOpenStandIn(scratch_)); }
  std::string XdgOpenRecord() const { return xdg_open_->RecordPath(); }

  std::unique_ptr<XdgOpenStandIn> xdg_open_;
};

TEST_F(WizardWindowTest, MainWindowFrame) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  GtkWindow* window = GTK_WINDOW(Wizard::MainWindow(*dialog));
  int width = 0;
  int height = 0;
  gtk_window_get_size(window, &width, &height);
  EXPECT_EQ(width, 500);
  EXPECT_EQ(height, 360);
  EXPECT_STREQ(gtk_window_get_title(window), kCaption);
  EXPECT_TRUE(gtk_window_get_modal(window));
  EXPECT_EQ(gtk_window_get_type_hint(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  EXPECT_NE(gtk_window_get_icon(window), nullptr);
  GtkWindowPosition position = GTK_WIN_POS_NONE;
  g_object_get(window, "window-position", &position, nullptr);
  EXPECT_EQ(position, GTK_WIN_POS_CENTER);

  struct Expected {
    GtkWidget* button;
    int x;
    const char* label;
  };
  for (const Expected& e : {Expected{Wizard::BackButton(*dialog), 230, "< Back"},
                            Expected{Wizard::NextButton(*dialog), 310, "Next >"},
                            Expected{Wizard::CancelButton(*dialog), 410, "Cancel"}}) {
    SCOPED_TRACE(e.label);
    ExpectAt(Wizard::FixedContainer(*dialog), e.button, e.x, 320);
    ExpectRequestedSize(e.button, 80, 30);
    EXPECT_EQ(LabelText(e.button), e.label);
  }
  EXPECT_TRUE(gtk_widget_has_default(Wizard::NextButton(*dialog)));

  bool found_separator = false;
  GList* children = gtk_container_get_children(GTK_CONTAINER(Wizard::FixedContainer(*dialog)));
  for (GList* item = children; item != nullptr; item = item->next) {
    if (!GTK_IS_HSEPARATOR(item->data)) continue;
    found_separator = true;
    ExpectAt(Wizard::FixedContainer(*dialog), GTK_WIDGET(item->data), 10, 310);
    ExpectRequestedSize(GTK_WIDGET(item->data), 480, 5);
  }
  g_list_free(children);
  EXPECT_TRUE(found_separator);
}

TEST_F(WizardWindowTest, GermanButtonLabels) {
  WriteDemoKit();
  SetCurrentLanguage(FindLanguage(NarrowString("de")));
  auto dialog = OpenWizard(u"de");
  EXPECT_EQ(LabelText(Wizard::BackButton(*dialog)), "< Zurück");
  EXPECT_EQ(LabelText(Wizard::NextButton(*dialog)), "Weiter >");
}

TEST_F(WizardWindowTest, WiderLabelsWidenTheButtonRowToTheLeft) {
  WriteDemoKit();
  SetCurrentLanguage(FindLanguage(NarrowString("uk")));
  auto dialog = OpenWizard(u"uk");
  int width = 0;
  int height = 0;
  gtk_widget_get_size_request(Wizard::CancelButton(*dialog), &width, &height);
  EXPECT_GT(width, 80);  // "< Попередня" needs more
  EXPECT_EQ(height, 30);
  GtkWidget* fixed = Wizard::FixedContainer(*dialog);
  ExpectAt(fixed, Wizard::CancelButton(*dialog), 490 - width, 320);
  ExpectAt(fixed, Wizard::NextButton(*dialog), 470 - 2 * width, 320);
  ExpectAt(fixed, Wizard::BackButton(*dialog), 470 - 3 * width, 320);
  ExpectRequestedSize(Wizard::BackButton(*dialog), width, 30);
  ExpectRequestedSize(Wizard::NextButton(*dialog), width, 30);
}

// The text size of the whole process's GTK settings, scaled for the lifetime of the object
// (1.0 leaves the default font alone) and put back afterwards.
class FontScale {
 public:
  explicit FontScale(double factor) {
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &old_name_, nullptr);
    if (factor == 1.0) return;
    PangoFontDescription* font = pango_font_description_from_string(old_name_);
    pango_font_description_set_size(
        font, static_cast<gint>(pango_font_description_get_size(font) * factor));
    gchar* name = pango_font_description_to_string(font);
    g_object_set(gtk_settings_get_default(), "gtk-font-name", name, nullptr);
    g_free(name);
    pango_font_description_free(font);
  }
  ~FontScale() {
    g_object_set(gtk_settings_get_default(), "gtk-font-name", old_name_, nullptr);
    g_free(old_name_);
  }
  FontScale(const FontScale&) = delete;
  FontScale& operator=(const FontScale&) = delete;

 private:
  gchar* old_name_ = nullptr;
};

// In every language of the table, on every page, at the default text size and at 150 %: each
// widget shown gets at least the size it asks for (its natural size), and the widgets on the
// container stay inside the window and do not cover each other. A label counts with the part
// its text takes, at its alignment.
TEST_P(WizardWindowTest, EveryLanguageFitsOnEveryPage) {
  const FontScale font(GetParam());
  std::vector<NarrowString> codes;
  for (const auto& [number, entry] : GetStringTable()) {
    if (FindLanguage(entry.code) == number) codes.push_back(entry.code);
  }
  EXPECT_EQ(codes.size(), 22u);
  WriteDemoKit();
  for (const NarrowString& code : codes) {
    SetCurrentLanguage(FindLanguage(code));
    auto dialog = MakeDialog(false, FromLocaleBytes(code));
    ASSERT_TRUE(dialog->RunPreinstallChecks());
    dialog->CreateMainWindow();
    const std::string language = code.CStr();
    if (GetParam() == 1.0) {
      // At the default font every language keeps the usual window.
      int width = 0;
      int height = 0;
      gtk_window_get_size(GTK_WINDOW(Wizard::MainWindow(*dialog)), &width, &height);
      EXPECT_EQ(width, 500) << language;
      EXPECT_EQ(height, 360) << language;
    }

    dialog->ShowWelcomePage();
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " welcome");
    dialog->ShowDirectoryPage();
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " directory");
    ProgressPage progress(Wizard::FixedContainer(*dialog), 480);
    dialog->ShowPage(&progress);
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " progress");
    progress.SetProgress(100);
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " progress at 100 %");
    dialog->ShowSuccessPage();
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " success");
    dialog->ShowErrorPage();
    DrainEvents();
    ExpectNothingCutOrCovered(Wizard::FixedContainer(*dialog), language + " error");
  }
}

INSTANTIATE_TEST_SUITE_P(TextSizes, WizardWindowTest, ::testing::Values(1.0, 1.5));

// GTK takes UTF-8 whatever the locale. Under a Latin-1 locale the German texts reach it as
// UTF-8, a home named with the Latin-1 byte of "\u00fc" shows as "h\u00fc" in the entry, and
// a typed ".../x\u00fc" installs into the folder named with that Latin-1 byte.
TEST_F(WizardWindowTest, PathsUnderALatin1LocaleAreShownAndTypedAsText) {
  WriteDemoKit();
  const std::string home = scratch_.Child("h\xfc");
  ASSERT_TRUE(MakeDirectories(home));
  EnvironmentOverride home_variable("HOME", home.c_str());
  LocaleOverride latin1("de_DE.ISO-8859-1");
  const LanguageOverride german("de");
  auto dialog = OpenWizard(u"de");
  EXPECT_EQ(LabelText(Wizard::BackButton(*dialog)), "< Zur\xc3\xbc" "ck");
  Click(Wizard::NextButton(*dialog));
  GtkEntry* entry = GTK_ENTRY(Wizard::Entry(*Wizard::DirectoryPage(*dialog)));
  EXPECT_EQ(std::string(gtk_entry_get_text(entry)),
            scratch_.Child("h\xc3\xbc") + "/.tavlo5/Tavlo/tavlo5/tmplts/");
  gtk_entry_set_text(entry, (scratch_.Child("srv/x") + "\xc3\xbc").c_str());
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  ExpectInstalledIn(scratch_.Child("srv/x\xfc"));
  EXPECT_FALSE(Exists(scratch_.Child("srv/x\xc3\xbc")));
}

TEST_F(WizardWindowTest, WelcomeTextIsPlainText) {
  WriteDemoKit("<b>Big & Small</b>", "A&B <i>");
  auto dialog = OpenWizard();
  ASSERT_NE(Wizard::WelcomePage(*dialog), nullptr);
  EXPECT_EQ(LabelText(Wizard::TextLabel(*Wizard::WelcomePage(*dialog))),
            "Welcome to the product installation program <b>Big & Small</b> (A&B <i>).");
}

TEST_F(WizardWindowTest, PageSequenceAndButtonStates) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kWelcomePage);
  EXPECT_EQ(Wizard::CurrentPage(*dialog), Wizard::WelcomePage(*dialog));
  EXPECT_FALSE(Sensitive(Wizard::BackButton(*dialog)));
  EXPECT_TRUE(Sensitive(Wizard::NextButton(*dialog)));
  EXPECT_TRUE(Sensitive(Wizard::CancelButton(*dialog)));
  EXPECT_TRUE(Visible(Wizard::TextLabel(*Wizard::WelcomePage(*dialog))));

  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kDirectoryPage);
  DirSelectPage* directory = Wizard::DirectoryPage(*dialog);
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(AsciiOf(directory->GetPath()), scratch_.DefaultTarget());
  EXPECT_TRUE(Sensitive(Wizard::BackButton(*dialog)));
  EXPECT_TRUE(Sensitive(Wizard::NextButton(*dialog)));
  EXPECT_FALSE(Visible(Wizard::TextLabel(*Wizard::WelcomePage(*dialog))));
  EXPECT_TRUE(Visible(Wizard::Entry(*directory)));

  // Back forgets an unconfirmed edit: the stored directory comes back.
  directory->SetPath(WideFromUtf8("/edited/but/not/confirmed"));
  Click(Wizard::BackButton(*dialog));
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kWelcomePage);
  EXPECT_FALSE(Sensitive(Wizard::BackButton(*dialog)));
  EXPECT_FALSE(Visible(Wizard::Entry(*directory)));
  Click(Wizard::BackButton(*dialog));  // insensitive in real use; the handler ignores page 1 anyway
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kWelcomePage);
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(AsciiOf(directory->GetPath()), scratch_.DefaultTarget());

  // An empty entry is refused with a plain message carrying the caption.
  directory->SetPath(WideString());
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(Wizard::NextButton(*dialog));
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_OTHER);
    EXPECT_EQ(answerer.seen()[0].title, kCaption);
  }
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kDirectoryPage);

  // Backslashes become slashes; the run installs there and records it.
  const std::string target = scratch_.Child("chosen/dir");
  std::string typed = target + "/";
  for (char& c : typed) {
    if (c == '/') c = '\\';
  }
  typed[0] = '/';
  directory->SetPath(WideFromUtf8(typed));
  Click(Wizard::NextButton(*dialog));
  ExpectInstalledIn(target);
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  EXPECT_EQ(Wizard::CurrentPage(*dialog), Wizard::FinalSuccessPage(*dialog));
  EXPECT_FALSE(Visible(Wizard::BackButton(*dialog)));
  EXPECT_TRUE(Visible(Wizard::NextButton(*dialog)));
  EXPECT_TRUE(Sensitive(Wizard::NextButton(*dialog)));
  EXPECT_EQ(LabelText(Wizard::NextButton(*dialog)), "Finish");
  EXPECT_FALSE(Sensitive(Wizard::CancelButton(*dialog)));
  DrainEvents();
  EXPECT_TRUE(gtk_widget_has_default(Wizard::NextButton(*dialog)));
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), std::string(kKey) + target + "\n");

  // Cancel is insensitive here; Escape still asks, and No keeps the wizard.
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    SendKey(Wizard::MainWindow(*dialog), GDK_Escape);
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Do you really want to cancel installation?");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_QUESTION);
  }
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
}

TEST_F(WizardWindowTest, ShowingTheSamePageAgainKeepsItsContents) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  DirSelectPage* directory = Wizard::DirectoryPage(*dialog);
  directory->SetPath(WideFromUtf8("/kept/text"));
  dialog->ShowPage(directory);
  EXPECT_EQ(Wizard::CurrentPage(*dialog), directory);
  EXPECT_TRUE(Visible(Wizard::Entry(*directory)));
  EXPECT_EQ(AsciiOf(directory->GetPath()), "/kept/text");
  dialog->ShowPage(nullptr);
  EXPECT_EQ(Wizard::CurrentPage(*dialog), nullptr);
  EXPECT_FALSE(Visible(Wizard::Entry(*directory)));
}

// A relative path would be taken from the current directory, which the user does not see;
// "~" stands for the home directory, as in a shell.
TEST_F(WizardWindowTest, RelativeDirectoryIsRefusedAndTildeMeansHome) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  for (const char* typed : {"  ", "templates/here"}) {
    Wizard::DirectoryPage(*dialog)->SetPath(WideFromUtf8(typed));
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(Wizard::NextButton(*dialog));
    ASSERT_EQ(answerer.seen().size(), 1u) << typed;
    EXPECT_EQ(answerer.seen()[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kDirectoryPage);
  }
  std::vector<std::string> in_work;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.Work()))
    in_work.push_back(entry.path().filename().string());
  EXPECT_EQ(in_work, std::vector<std::string>{"tavlo5.efd"});

  Wizard::DirectoryPage(*dialog)->SetPath(WideFromUtf8("~/my templates"));
  MessageBoxAnswerer answerer({});
  Click(Wizard::NextButton(*dialog));
  EXPECT_TRUE(answerer.seen().empty());
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  ExpectInstalledIn(scratch_.Home() + "/my templates");
}

// --target: the directory page starts with it, taken from the current directory. With
// --no-dialogs a refused directory is said on standard error, and no box waits.
TEST_F(WizardWindowTest, TargetOptionStartsTheDirectoryPageAndNoDialogsShowsNoBox) {
  WriteDemoKit();
  auto dialog = MakeDialog(false);
  AutomationOptions automation;
  automation.has_target = true;
  automation.target = NarrowString("chosen/dir");
  automation.no_dialogs = true;
  dialog->SetAutomation(automation);
  ASSERT_TRUE(dialog->RunPreinstallChecks());
  dialog->CreateMainWindow();
  dialog->ShowWelcomePage();
  DrainEvents();
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(AsciiOf(Wizard::DirectoryPage(*dialog)->GetPath()),
            std::filesystem::current_path().string() + "/chosen/dir");
  Wizard::DirectoryPage(*dialog)->SetPath(WideFromUtf8("relative"));
  MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
  testing::internal::CaptureStderr();
  Click(Wizard::NextButton(*dialog));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(answerer.seen().empty());
  EXPECT_NE(said.find("Specify correct path to template directory."), std::string::npos);
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kDirectoryPage);
}

// The worker is stopped once its run has ended: a template removed while the success page
// shows stays removed, where a further run after the pause that follows the finish report
// would write it again.
TEST_F(WizardWindowTest, AFinishedRunIsNotRepeated) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  Click(Wizard::NextButton(*dialog));
  ASSERT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  const std::string removed = scratch_.DefaultTarget() + "Accounting/template.cfg";
  ASSERT_EQ(unlink(removed.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::microseconds(kFinishPauseMicroseconds) +
                              std::chrono::seconds(1));
  EXPECT_FALSE(Exists(removed));
}

TEST_F(WizardWindowTest, FinishOpensTheDescription) {
  WriteDemoKit();
  InstallXdgOpenStandIn();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  Click(Wizard::NextButton(*dialog));
  ASSERT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  EXPECT_TRUE(Wizard::FinalSuccessPage(*dialog)->OpenDescriptionWanted());
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_EQ(ReadWholeFile(XdgOpenRecord()), scratch_.DefaultTarget() + "description.htm");
}

TEST_F(WizardWindowTest, FinishWithoutTheTickOnlyCloses) {
  WriteDemoKit();
  InstallXdgOpenStandIn();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  Click(Wizard::NextButton(*dialog));
  ASSERT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  GtkWidget* check_box = Wizard::CheckBox(*Wizard::FinalSuccessPage(*dialog));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_box), FALSE);
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_FALSE(Exists(XdgOpenRecord()));
}

TEST_F(WizardWindowTest, FailedInstallationShowsTheErrorPage) {
  WriteDemoKit();
  InstallXdgOpenStandIn();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  Wizard::DirectoryPage(*dialog)->SetPath(WideFromUtf8(UnmakeableLocation()));
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(Wizard::NextButton(*dialog));
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Installation error");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_ERROR);
  }
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kErrorPage);
  EXPECT_EQ(Wizard::CurrentPage(*dialog), Wizard::FinalErrorPage(*dialog));
  EXPECT_EQ(LabelText(Wizard::TextLabel(*Wizard::FinalErrorPage(*dialog))),
            "An error occurred during the installation process. Installation canceled. "
            "Template directory has not been changed.");
  EXPECT_EQ(LabelText(Wizard::NextButton(*dialog)), "Finish");
  EXPECT_FALSE(Visible(Wizard::BackButton(*dialog)));
  EXPECT_FALSE(Sensitive(Wizard::CancelButton(*dialog)));
  EXPECT_FALSE(Exists(scratch_.UserSettingsPath()));
  Click(Wizard::NextButton(*dialog));
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_FALSE(Exists(XdgOpenRecord()));
}

// A folder that the run cannot put back in order is never called unchanged: the message box
// and the error page say where what is left is kept.
TEST_F(WizardWindowTest, ADirectoryLeftChangedIsShownWithWhereItsFilesAreKept) {
  WriteDemoKit();
  const std::string target = scratch_.Work() + "/tpl";
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  // Something that is not a run's work folder stands where the work folder goes.
  const Bytes foreign = {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
  ASSERT_TRUE(WriteWholeFile(target + "/.t5stp", foreign));
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  Wizard::DirectoryPage(*dialog)->SetPath(WideFromUtf8(target));
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(Wizard::NextButton(*dialog));
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_NE(answerer.seen()[0].text.find(target + "/.t5stp"), std::string::npos)
        << answerer.seen()[0].text;
  }
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kErrorPage);
  const std::string page = LabelText(Wizard::TextLabel(*Wizard::FinalErrorPage(*dialog)));
  EXPECT_EQ(page.find("has not been changed"), std::string::npos) << page;
  EXPECT_NE(page.find(target + "/.t5stp"), std::string::npos) << page;
  EXPECT_EQ(ReadWholeFileBytes(target + "/.t5stp"), foreign);
}

TEST_F(WizardWindowTest, CloseConfirmation) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    SendKey(Wizard::MainWindow(*dialog), GDK_Escape);
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    Click(Wizard::CancelButton(*dialog));
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
  // Other keys are left to GTK.
  SendKey(Wizard::MainWindow(*dialog), GDK_a);
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_YES});
    SendKey(Wizard::MainWindow(*dialog), GDK_Escape);
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

TEST_F(WizardWindowTest, WindowManagerCloseNeedsNoConfirmation) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  MessageBoxAnswerer answerer({});
  SendDelete(Wizard::MainWindow(*dialog));
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_TRUE(answerer.seen().empty());
}

// An action run inside the installation loop, where PageKind is 3. It is a high-priority idle
// source, so every turn of the loop dispatches it: it acts in the first turn, or, with
// wait_for_file, in the first turn in which that file exists (at the latest the turn that
// reads the finish report, since the run has written every file by then).
struct DuringCopy {
  CInstallerDlg* dialog;
  void (*action)(CInstallerDlg* dialog);
  std::string wait_for_file = std::string();
  int page_kind_seen = kNoPage;
  bool window_alive_after = false;
  bool acted = false;
  guint source = 0;

  void Schedule() { source = g_idle_add_full(G_PRIORITY_HIGH, Act, this, nullptr); }
  // Removes the source if it never acted, so it cannot outlive the test.
  void Unschedule() {
    if (!acted) g_source_remove(source);
  }

  static gboolean Act(gpointer data) {
    auto* during = static_cast<DuringCopy*>(data);
    if (!during->wait_for_file.empty() && !Exists(during->wait_for_file)) return TRUE;
    during->acted = true;
    during->page_kind_seen = Wizard::CurrentPageKind(*during->dialog);
    during->action(during->dialog);
    during->window_alive_after = Wizard::MainWindow(*during->dialog) != nullptr;
    return FALSE;
  }
};

TEST_F(WizardWindowTest, WindowManagerCloseDuringCopyWaitsForTheRun) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  MessageBoxAnswerer answerer({});
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) { SendDelete(Wizard::MainWindow(*d)); }};
  during.Schedule();
  Click(Wizard::NextButton(*dialog));
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(during.window_alive_after);
  // The run went to its end and was recorded; then the window was closed, unasked.
  ExpectInstalledIn(scratch_.DefaultTarget());
  EXPECT_TRUE(Exists(scratch_.UserSettingsPath()));
  EXPECT_EQ(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_TRUE(answerer.seen().empty());
}

TEST_F(WizardWindowTest, EscapeDuringCopyAsksOnceTheRunHasEnded) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
  DuringCopy during{dialog.get(),
                    [](CInstallerDlg* d) { SendKey(Wizard::MainWindow(*d), GDK_Escape); }};
  during.Schedule();
  Click(Wizard::NextButton(*dialog));
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(during.window_alive_after);
  ASSERT_EQ(answerer.seen().size(), 1u);
  EXPECT_EQ(answerer.seen()[0].text, "Do you really want to cancel installation?");
  // Answered No: the wizard stays on the success page.
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  ExpectInstalledIn(scratch_.DefaultTarget());
}

TEST_F(WizardWindowTest, CancelDuringCopyLetsTheRunFinish) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  MessageBoxAnswerer answerer({});
  // Cancel once the run has begun writing: it only keeps further runs from starting.
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) { Click(Wizard::CancelButton(*d)); },
                    scratch_.DefaultTarget() + "description.htm"};
  during.Schedule();
  Click(Wizard::NextButton(*dialog));
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(answerer.seen().empty());
  EXPECT_EQ(Wizard::CurrentPageKind(*dialog), kSuccessPage);
  ExpectInstalledIn(scratch_.DefaultTarget());
  EXPECT_NE(Wizard::MainWindow(*dialog), nullptr);
}

TEST_F(WizardWindowTest, ProgressPageButtonsDuringCopy) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(Wizard::NextButton(*dialog));
  struct Seen {
    bool back = true;
    bool next = true;
    bool cancel = false;
    bool bar_visible = false;
  } seen;
  static Seen* target = nullptr;
  target = &seen;
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) {
                      target->back = Sensitive(Wizard::BackButton(*d));
                      target->next = Sensitive(Wizard::NextButton(*d));
                      target->cancel = Sensitive(Wizard::CancelButton(*d));
                      target->bar_visible =
                          Visible(Wizard::ProgressBar(*Wizard::InstallProgressPage(*d)));
                    }};
  during.Schedule();
  Click(Wizard::NextButton(*dialog));
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_FALSE(seen.back);
  EXPECT_FALSE(seen.next);
  EXPECT_TRUE(seen.cancel);
  EXPECT_TRUE(seen.bar_visible);
  target = nullptr;
}

TEST_F(WizardWindowTest, SilentRunHidesBackAndNextOnTheWelcomePage) {
  WriteDemoKit();
  auto dialog = MakeDialog(true);
  ASSERT_TRUE(dialog->RunPreinstallChecks());
  dialog->CreateMainWindow();
  dialog->ShowWelcomePage();
  EXPECT_FALSE(Visible(Wizard::BackButton(*dialog)));
  EXPECT_FALSE(Visible(Wizard::NextButton(*dialog)));
  EXPECT_TRUE(Visible(Wizard::CancelButton(*dialog)));
}

}  // namespace
