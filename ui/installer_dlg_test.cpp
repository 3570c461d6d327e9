// The installer dialog over whole runs, with real kits, settings files and template trees in
// a scratch home. Silent runs work with or without a display (without one, the messages go
// to standard error); the window, the page sequence and the button states need a display
// and are skipped without one.

#include "ui/installer_dlg.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/string_table.h"
#include "install/install_job.h"
#include "testing/kit_builders.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"
#include "ui/progress_page.h"
#include "ui/ui_test_support.h"

namespace {

constexpr const char* kCaption = "Installing configuration";
constexpr const char* kKey = "ConfigurationTemplatesLocation=";

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

  // A settings location below a regular file: it passes the writability probe (it does not
  // exist yet) but no directory can be made there, so the installation fails.
  std::string UnmakeableLocation() {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("blocker"), PatternBytes(4, 2)));
    return scratch_.Child("blocker/templates");
  }

  // Runs the dialog, which must show exactly one message, and returns it: answered in its
  // message box when there is a display (an error box titled with the caption), read from
  // standard error (the caption, then the text) when there is none.
  std::string RunAndTakeTheOneMessage(CInstallerDlg* dialog) {
    if (dialog->HasDisplay()) {
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
    return output.size() > head.size() ? output.substr(head.size(), output.size() - head.size() - 1)
                                       : "";
  }

  WizardScratch scratch_;
  char program_[8] = "ui_test";
  char* argv_[2] = {program_, nullptr};
};

TEST_F(InstallerDlgTest, TitleIsTheCaption) {
  auto dialog = MakeDialog(true);
  EXPECT_EQ(AsciiOf(dialog->GetTitle()), kCaption);
  EXPECT_EQ(dialog->CurrentPageKind(), kNoPage);
  EXPECT_EQ(dialog->MainWindow(), nullptr);
}

TEST_F(InstallerDlgTest, SilentRunInstallsAndRecordsTheDirectory) {
  WriteDemoKit();
  auto dialog = MakeDialog(true);
  dialog->Run();
  ExpectInstalledIn(scratch_.DefaultTarget());
  std::string recorded = scratch_.DefaultTarget();
  recorded.pop_back();
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), std::string(kKey) + recorded + "\n");
  if (dialog->HasDisplay()) {
    EXPECT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  } else {
    EXPECT_EQ(dialog->MainWindow(), nullptr);
  }
}

TEST_F(InstallerDlgTest, SilentRunFailureShowsTheWorkersTextAndRecordsNothing) {
  WriteDemoKit();
  const std::vector<std::string> settings = {std::string(kKey) + UnmakeableLocation()};
  WizardScratch::WriteSettings(scratch_.UserSettingsPath(), settings);
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()), "Installation error");
  if (dialog->HasDisplay()) {
    EXPECT_EQ(dialog->CurrentPageKind(), kErrorPage);
  }
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), settings[0] + "\n");
}

TEST_F(InstallerDlgTest, SilentRunWithEmptyTargetWritesNothing) {
  WriteDemoKit();
  WizardScratch::WriteSettings(scratch_.UserSettingsPath(),
                               {std::string(kKey) + "http://example/templates"});
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()),
            "Installation of templates to the current directory is not supported.");
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  for (const std::string& name : DemoKitFiles()) {
    EXPECT_FALSE(Exists(scratch_.Work() + "/" + name));
  }
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

TEST_F(InstallerDlgTest, FailedChecksEndTheRunWithoutAWindow) {
  auto dialog = MakeDialog(true);
  EXPECT_EQ(RunAndTakeTheOneMessage(dialog.get()), "Distribution kit file tavlo5.efd not found.");
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  EXPECT_EQ(dialog->CurrentPageKind(), kNoPage);
}

TEST_F(InstallerDlgTest, WithoutDisplayAndNotSilentOnlyReports) {
  WriteDemoKit();
  auto dialog = MakeDialog(false);
  if (dialog->HasDisplay()) GTEST_SKIP() << "a display is open";
  testing::internal::CaptureStderr();
  dialog->Run();
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_NE(written.find("cannot open a display"), std::string::npos);
  EXPECT_TRUE(dialog->KitPath().Empty());  // the checks did not run
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

// The interactive wizard; needs a display.
class WizardWindowTest : public InstallerDlgTest {
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
  GtkWindow* window = GTK_WINDOW(dialog->MainWindow());
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
  for (const Expected& e : {Expected{dialog->BackButton(), 230, "< Back"},
                            Expected{dialog->NextButton(), 310, "Next >"},
                            Expected{dialog->CancelButton(), 410, "Cancel"}}) {
    SCOPED_TRACE(e.label);
    ExpectAt(dialog->FixedContainer(), e.button, e.x, 320);
    ExpectRequestedSize(e.button, 80, 30);
    EXPECT_EQ(LabelText(e.button), e.label);
  }
  EXPECT_TRUE(gtk_widget_has_default(dialog->NextButton()));

  bool found_separator = false;
  GList* children = gtk_container_get_children(GTK_CONTAINER(dialog->FixedContainer()));
  for (GList* item = children; item != nullptr; item = item->next) {
    if (!GTK_IS_HSEPARATOR(item->data)) continue;
    found_separator = true;
    ExpectAt(dialog->FixedContainer(), GTK_WIDGET(item->data), 10, 310);
    ExpectRequestedSize(GTK_WIDGET(item->data), 480, 5);
  }
  g_list_free(children);
  EXPECT_TRUE(found_separator);
}

TEST_F(WizardWindowTest, GermanButtonLabels) {
  WriteDemoKit();
  SetCurrentLanguage(FindLanguage(NarrowString("de")));
  auto dialog = OpenWizard(u"de");
  EXPECT_EQ(LabelText(dialog->BackButton()), "< Zurück");
  EXPECT_EQ(LabelText(dialog->NextButton()), "Weiter >");
}

TEST_F(WizardWindowTest, WiderLabelsWidenTheButtonRowToTheLeft) {
  WriteDemoKit();
  SetCurrentLanguage(FindLanguage(NarrowString("uk")));
  auto dialog = OpenWizard(u"uk");
  int width = 0;
  int height = 0;
  gtk_widget_get_size_request(dialog->CancelButton(), &width, &height);
  EXPECT_GT(width, 80);  // "< Попередня" needs more
  EXPECT_EQ(height, 30);
  GtkWidget* fixed = dialog->FixedContainer();
  ExpectAt(fixed, dialog->CancelButton(), 490 - width, 320);
  ExpectAt(fixed, dialog->NextButton(), 470 - 2 * width, 320);
  ExpectAt(fixed, dialog->BackButton(), 470 - 3 * width, 320);
  ExpectRequestedSize(dialog->BackButton(), width, 30);
  ExpectRequestedSize(dialog->NextButton(), width, 30);
}

// In every language of the table, on every page: each widget shown gets at least the size it
// asks for (its natural size), and the widgets on the container stay inside the window and
// do not cover each other. A label counts with the part its text takes, at its alignment.
TEST_F(WizardWindowTest, EveryLanguageFitsOnEveryPage) {
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

    dialog->ShowWelcomePage();
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " welcome");
    dialog->ShowDirectoryPage();
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " directory");
    ProgressPage progress(dialog->FixedContainer(), 480);
    dialog->ShowPage(&progress);
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " progress");
    progress.SetProgress(100);
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " progress at 100 %");
    dialog->ShowSuccessPage();
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " success");
    dialog->ShowErrorPage();
    DrainEvents();
    ExpectNothingCutOrCovered(dialog->FixedContainer(), language + " error");
  }
}

TEST_F(WizardWindowTest, WelcomeTextIsPlainText) {
  WriteDemoKit("<b>Big & Small</b>", "A&B <i>");
  auto dialog = OpenWizard();
  ASSERT_NE(dialog->WelcomePage(), nullptr);
  EXPECT_EQ(LabelText(dialog->WelcomePage()->text_label()),
            "Welcome to the product installation program <b>Big & Small</b> (A&B <i>).");
}

TEST_F(WizardWindowTest, PageSequenceAndButtonStates) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  EXPECT_EQ(dialog->CurrentPageKind(), kWelcomePage);
  EXPECT_EQ(dialog->CurrentPage(), dialog->WelcomePage());
  EXPECT_FALSE(Sensitive(dialog->BackButton()));
  EXPECT_TRUE(Sensitive(dialog->NextButton()));
  EXPECT_TRUE(Sensitive(dialog->CancelButton()));
  EXPECT_TRUE(Visible(dialog->WelcomePage()->text_label()));

  Click(dialog->NextButton());
  EXPECT_EQ(dialog->CurrentPageKind(), kDirectoryPage);
  DirSelectPage* directory = dialog->DirectoryPage();
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(AsciiOf(directory->GetPath()), scratch_.DefaultTarget());
  EXPECT_TRUE(Sensitive(dialog->BackButton()));
  EXPECT_TRUE(Sensitive(dialog->NextButton()));
  EXPECT_FALSE(Visible(dialog->WelcomePage()->text_label()));
  EXPECT_TRUE(Visible(directory->entry()));

  // Back forgets an unconfirmed edit: the stored directory comes back.
  directory->SetPath(WideFromUtf8("/edited/but/not/confirmed"));
  Click(dialog->BackButton());
  EXPECT_EQ(dialog->CurrentPageKind(), kWelcomePage);
  EXPECT_FALSE(Sensitive(dialog->BackButton()));
  EXPECT_FALSE(Visible(directory->entry()));
  Click(dialog->BackButton());  // insensitive in real use; the handler ignores page 1 anyway
  EXPECT_EQ(dialog->CurrentPageKind(), kWelcomePage);
  Click(dialog->NextButton());
  EXPECT_EQ(AsciiOf(directory->GetPath()), scratch_.DefaultTarget());

  // An empty entry is refused with a plain message carrying the caption.
  directory->SetPath(WideString());
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(dialog->NextButton());
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_OTHER);
    EXPECT_EQ(answerer.seen()[0].title, kCaption);
  }
  EXPECT_EQ(dialog->CurrentPageKind(), kDirectoryPage);

  // Backslashes become slashes; the run installs there and records it.
  const std::string target = scratch_.Child("chosen/dir");
  std::string typed = target + "/";
  for (char& c : typed) {
    if (c == '/') c = '\\';
  }
  typed[0] = '/';
  directory->SetPath(WideFromUtf8(typed));
  Click(dialog->NextButton());
  EXPECT_EQ(AsciiOf(dialog->TargetDirectory()), target + "/");
  ExpectInstalledIn(target);
  EXPECT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  EXPECT_EQ(dialog->CurrentPage(), dialog->FinalSuccessPage());
  EXPECT_FALSE(Visible(dialog->BackButton()));
  EXPECT_TRUE(Visible(dialog->NextButton()));
  EXPECT_TRUE(Sensitive(dialog->NextButton()));
  EXPECT_EQ(LabelText(dialog->NextButton()), "Finish");
  EXPECT_FALSE(Sensitive(dialog->CancelButton()));
  DrainEvents();
  EXPECT_TRUE(gtk_widget_has_default(dialog->NextButton()));
  EXPECT_EQ(ReadWholeFile(scratch_.UserSettingsPath()), std::string(kKey) + target + "\n");

  // Cancel is insensitive here; Escape still asks, and No keeps the wizard.
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    SendKey(dialog->MainWindow(), GDK_Escape);
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Do you really want to cancel installation?");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_QUESTION);
  }
  EXPECT_NE(dialog->MainWindow(), nullptr);
}

TEST_F(WizardWindowTest, ShowingTheSamePageAgainKeepsItsContents) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  DirSelectPage* directory = dialog->DirectoryPage();
  directory->SetPath(WideFromUtf8("/kept/text"));
  dialog->ShowPage(directory);
  EXPECT_EQ(dialog->CurrentPage(), directory);
  EXPECT_TRUE(Visible(directory->entry()));
  EXPECT_EQ(AsciiOf(directory->GetPath()), "/kept/text");
  dialog->ShowPage(nullptr);
  EXPECT_EQ(dialog->CurrentPage(), nullptr);
  EXPECT_FALSE(Visible(directory->entry()));
}

// A relative path would be taken from the current directory, which the user does not see;
// "~" stands for the home directory, as in a shell.
TEST_F(WizardWindowTest, RelativeDirectoryIsRefusedAndTildeMeansHome) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  for (const char* typed : {"  ", "templates/here"}) {
    dialog->DirectoryPage()->SetPath(WideFromUtf8(typed));
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(dialog->NextButton());
    ASSERT_EQ(answerer.seen().size(), 1u) << typed;
    EXPECT_EQ(answerer.seen()[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(dialog->CurrentPageKind(), kDirectoryPage);
  }
  std::vector<std::string> in_work;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.Work()))
    in_work.push_back(entry.path().filename().string());
  EXPECT_EQ(in_work, std::vector<std::string>{"tavlo5.efd"});

  dialog->DirectoryPage()->SetPath(WideFromUtf8("~/my templates"));
  MessageBoxAnswerer answerer({});
  Click(dialog->NextButton());
  EXPECT_TRUE(answerer.seen().empty());
  EXPECT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  ExpectInstalledIn(scratch_.Home() + "/my templates");
}

// The worker is stopped once its run has ended: a template removed while the success page
// shows stays removed, where a further run after the pause that follows the finish report
// would write it again.
TEST_F(WizardWindowTest, AFinishedRunIsNotRepeated) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  Click(dialog->NextButton());
  ASSERT_EQ(dialog->CurrentPageKind(), kSuccessPage);
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
  Click(dialog->NextButton());
  Click(dialog->NextButton());
  ASSERT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  EXPECT_TRUE(dialog->FinalSuccessPage()->OpenDescriptionWanted());
  Click(dialog->NextButton());
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  EXPECT_EQ(ReadWholeFile(XdgOpenRecord()), scratch_.DefaultTarget() + "description.htm");
}

TEST_F(WizardWindowTest, FinishWithoutTheTickOnlyCloses) {
  WriteDemoKit();
  InstallXdgOpenStandIn();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  Click(dialog->NextButton());
  ASSERT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(dialog->FinalSuccessPage()->check_box()), FALSE);
  Click(dialog->NextButton());
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  EXPECT_FALSE(Exists(XdgOpenRecord()));
}

TEST_F(WizardWindowTest, FailedInstallationShowsTheErrorPage) {
  WriteDemoKit();
  InstallXdgOpenStandIn();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  dialog->DirectoryPage()->SetPath(WideFromUtf8(UnmakeableLocation()));
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(dialog->NextButton());
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_EQ(answerer.seen()[0].text, "Installation error");
    EXPECT_EQ(answerer.seen()[0].type, GTK_MESSAGE_ERROR);
  }
  EXPECT_EQ(dialog->CurrentPageKind(), kErrorPage);
  EXPECT_EQ(dialog->CurrentPage(), dialog->FinalErrorPage());
  EXPECT_EQ(LabelText(dialog->FinalErrorPage()->text_label()),
            "An error occurred during the installation process. Installation canceled. "
            "Template directory has not been changed.");
  EXPECT_EQ(LabelText(dialog->NextButton()), "Finish");
  EXPECT_FALSE(Visible(dialog->BackButton()));
  EXPECT_FALSE(Sensitive(dialog->CancelButton()));
  EXPECT_FALSE(Exists(scratch_.UserSettingsPath()));
  Click(dialog->NextButton());
  EXPECT_EQ(dialog->MainWindow(), nullptr);
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
  Click(dialog->NextButton());
  dialog->DirectoryPage()->SetPath(WideFromUtf8(target));
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_OK});
    Click(dialog->NextButton());
    ASSERT_EQ(answerer.seen().size(), 1u);
    EXPECT_NE(answerer.seen()[0].text.find(target + "/.t5stp"), std::string::npos)
        << answerer.seen()[0].text;
  }
  EXPECT_EQ(dialog->CurrentPageKind(), kErrorPage);
  const std::string page = LabelText(dialog->FinalErrorPage()->text_label());
  EXPECT_EQ(page.find("has not been changed"), std::string::npos) << page;
  EXPECT_NE(page.find(target + "/.t5stp"), std::string::npos) << page;
  EXPECT_EQ(ReadWholeFileBytes(target + "/.t5stp"), foreign);
}

TEST_F(WizardWindowTest, CloseConfirmation) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    SendKey(dialog->MainWindow(), GDK_Escape);
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_NE(dialog->MainWindow(), nullptr);
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
    Click(dialog->CancelButton());
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_NE(dialog->MainWindow(), nullptr);
  // Other keys are left to GTK.
  SendKey(dialog->MainWindow(), GDK_a);
  EXPECT_NE(dialog->MainWindow(), nullptr);
  {
    MessageBoxAnswerer answerer({GTK_RESPONSE_YES});
    SendKey(dialog->MainWindow(), GDK_Escape);
    EXPECT_EQ(answerer.seen().size(), 1u);
  }
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  EXPECT_FALSE(Exists(scratch_.DefaultTarget()));
}

TEST_F(WizardWindowTest, WindowManagerCloseNeedsNoConfirmation) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  MessageBoxAnswerer answerer({});
  SendDelete(dialog->MainWindow());
  EXPECT_EQ(dialog->MainWindow(), nullptr);
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
    during->page_kind_seen = during->dialog->CurrentPageKind();
    during->action(during->dialog);
    during->window_alive_after = during->dialog->MainWindow() != nullptr;
    return FALSE;
  }
};

TEST_F(WizardWindowTest, WindowManagerCloseDuringCopyWaitsForTheRun) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  MessageBoxAnswerer answerer({});
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) { SendDelete(d->MainWindow()); }};
  during.Schedule();
  Click(dialog->NextButton());
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(during.window_alive_after);
  // The run went to its end and was recorded; then the window was closed, unasked.
  ExpectInstalledIn(scratch_.DefaultTarget());
  EXPECT_TRUE(Exists(scratch_.UserSettingsPath()));
  EXPECT_EQ(dialog->MainWindow(), nullptr);
  EXPECT_TRUE(answerer.seen().empty());
}

TEST_F(WizardWindowTest, EscapeDuringCopyAsksOnceTheRunHasEnded) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  MessageBoxAnswerer answerer({GTK_RESPONSE_NO});
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) { SendKey(d->MainWindow(), GDK_Escape); }};
  during.Schedule();
  Click(dialog->NextButton());
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(during.window_alive_after);
  ASSERT_EQ(answerer.seen().size(), 1u);
  EXPECT_EQ(answerer.seen()[0].text, "Do you really want to cancel installation?");
  // Answered No: the wizard stays on the success page.
  EXPECT_NE(dialog->MainWindow(), nullptr);
  EXPECT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  ExpectInstalledIn(scratch_.DefaultTarget());
}

TEST_F(WizardWindowTest, CancelDuringCopyLetsTheRunFinish) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  MessageBoxAnswerer answerer({});
  // Cancel once the run has begun writing: it only keeps further runs from starting.
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) { Click(d->CancelButton()); },
                    scratch_.DefaultTarget() + "description.htm"};
  during.Schedule();
  Click(dialog->NextButton());
  during.Unschedule();
  EXPECT_EQ(during.page_kind_seen, kProgressPage);
  EXPECT_TRUE(answerer.seen().empty());
  EXPECT_EQ(dialog->CurrentPageKind(), kSuccessPage);
  ExpectInstalledIn(scratch_.DefaultTarget());
  EXPECT_NE(dialog->MainWindow(), nullptr);
}

TEST_F(WizardWindowTest, ProgressPageButtonsDuringCopy) {
  WriteDemoKit();
  auto dialog = OpenWizard();
  Click(dialog->NextButton());
  struct Seen {
    bool back = true;
    bool next = true;
    bool cancel = false;
    bool bar_visible = false;
  } seen;
  static Seen* target = nullptr;
  target = &seen;
  DuringCopy during{dialog.get(), [](CInstallerDlg* d) {
                      target->back = Sensitive(d->BackButton());
                      target->next = Sensitive(d->NextButton());
                      target->cancel = Sensitive(d->CancelButton());
                      target->bar_visible = Visible(d->InstallProgressPage()->progress_bar());
                    }};
  during.Schedule();
  Click(dialog->NextButton());
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
  EXPECT_FALSE(Visible(dialog->BackButton()));
  EXPECT_FALSE(Visible(dialog->NextButton()));
  EXPECT_TRUE(Visible(dialog->CancelButton()));
}

}  // namespace
