// CInstallerDlg: the installer's dialog object. It owns the whole state of one run (what the
// pre-installation checks found, the distribution kit, the progress channel to the worker
// and the worker's handle, the chosen directory, the pages) and the GTK main window: a
// 500 x 360, centred, non-resizable, modal window with the page picture, a separator and
// the Back, Next and Cancel buttons (one width for all three, wide enough for the longest
// label of the language: ui/button_row.h), on which the wizard pages are shown one at a time.
// Where a text of the chosen language needs more room at the font in force, the window and
// the widgets concerned are larger from the start (ui/wizard_layout.h).
//
// The page sequence, the button states of each page, the close rules and the judging of an
// installation run are WizardFlow's (ui/wizard_flow.h): every handler asks it and applies its
// answer to the widgets, so that no rule depends on GTK and each one is tested without a
// display.
//
// A run: the checks, on a thread of their own beside GTK's start and the hidden build of the
// main window (a failure is shown in a message box and ends the run before any window is
// shown); the main window with the welcome page; then either the installation at once
// (silent mode, which ends the run when the installation has ended) or the GTK main loop
// until the main window is destroyed (Finish, a confirmed close, the window manager's close
// button).
//
// Without a display (gtk_init_check failed) no window is ever made: a silent run makes the
// same checks and the same installation and writes each message to standard error; a run
// that is not silent only reports that it needs a display. Nothing waits for input then.
//
// The worker thread holds pointers into this object (the channel and the kit). It is asked
// to stop as soon as an installation run has ended, and it is stopped and joined on the way
// out of Run and again by the destructor, before any member is destroyed.
//
// Unattended runs (app/options.h, set with SetAutomation before Run): --target replaces the
// checks' directory; --no-dialogs sends every message to standard error instead of a message
// box and closes without asking; --dry-run makes the checks and prints the plan without a
// window and without writing; --log writes the run's records. SIGINT, SIGTERM and SIGHUP
// during an installation set the channel's cancel request and stop the worker: the run
// ends at its next entry and rolls back, and a second signal changes nothing. Every
// failure is followed on standard error (without a window, or with --no-dialogs) by its
// cause. How the start ended is outcome().
//
// Every text the dialog shows is fetched with LoadText when it is needed and handed to GTK
// as UTF-8 (ToUtf8), as plain text, whatever the locale. GTK's own words come in the chosen
// language, and every window reads left to right (ui/gtk_language.h). All of it runs on the
// user-interface thread.

#ifndef UI_INSTALLER_DLG_H_
#define UI_INSTALLER_DLG_H_

#include <gtk/gtk.h>

#include <memory>
#include <vector>

#include "app/options.h"
#include "app/run_log.h"
#include "app/run_outcome.h"
#include "fs/status.h"
#include "fs/target_directory.h"
#include "install/progress_channel.h"
#include "install/worker_handle.h"
#include "kit/distribution_kit.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"
#include "kit/preinstall_checks.h"
#include "ui/background_checks.h"
#include "ui/cwnd.h"
#include "ui/dir_select_page.h"
#include "ui/font_warm_up.h"
#include "ui/installed_directory_record.h"
#include "ui/message_box.h"
#include "ui/message_page.h"
#include "ui/progress_page.h"
#include "ui/run_tally.h"
#include "ui/stop_signal_watches.h"
#include "ui/success_final_page.h"
#include "ui/terminal_progress_line.h"
#include "ui/wizard_dialog_page.h"
#include "ui/wizard_flow.h"
#include "ui/wizard_layout.h"

class CInstallerDlg : public CWnd {
 public:
  // Initialises GTK with copies of the argument count and vector (GTK may remove its own
  // options from the vector), the progress channel (whose first report is
  // IDS_PREPARECOPY, 0 %) and the kit reader. caption is in the locale's encoding.
  CInstallerDlg(int argument_count, char** argument_vector, bool silent,
                const NarrowString& caption, const WideString& language_code,
                bool use_current_directory);
  // Stops and joins the worker, destroys the main window if it still exists and releases
  // the pictures.
  ~CInstallerDlg() override;

  // The options of an unattended run; before Run.
  void SetAutomation(const AutomationOptions& options) { automation_ = options; }

  // The whole run (see above). Returns when it has ended, with the worker ended.
  void Run();

  // How the run ended; meaningful after Run.
  RunOutcome outcome() const { return outcome_; }
  // The signal that stopped the installation, or 0.
  int stop_signal() const { return stop_signal_number_; }

  // A stop signal arrived during the installation (GLib calls this from the main loop).
  void StopBySignal(int signal_number);

  // The pre-installation checks (their result, when Run started them on their thread): true
  // when the wizard may be shown; otherwise the failure has been shown in an error message
  // box, and a window built meanwhile is destroyed unseen.
  bool RunPreinstallChecks();

  // Builds (unless BuildMainWindow did) and shows the main window; once, after the checks
  // have passed, with a display.
  void CreateMainWindow();
  // Hides the widgets of the current page, makes page current and shows its widgets (then
  // calls its OnActivate). A null page only hides the current one.
  void ShowPage(WizardDialogPage* page);
  // Gives the three buttons the states of a page (WizardFlow::ButtonsOf).
  void ApplyButtons(const WizardButtons& buttons);
  // The caption, decoded from the locale's bytes.
  WideString GetTitle() const override;

  // The page sequence.
  void ShowWelcomePage();
  void ShowDirectoryPage();
  void ShowSuccessPage();
  void ShowErrorPage();

  // The button and key handlers.
  void OnBack();
  void OnNext();
  void OnCancel();
  // Escape; any other key is left to GTK (false).
  bool OnKeyPress(guint key_value);
  // The window manager's close button: true keeps the window (a request during copying is
  // remembered), false lets GTK destroy it without confirmation.
  bool OnDeleteRequest();
  // The main window has been destroyed: forget it and end the main loop if one runs.
  void OnMainWindowDestroyed();

  // Asks whether to cancel the installation; on Yes destroys the main window.
  void RequestClose();
  // Runs the installation into the target directory and shows its result (success page and
  // the directory recorded in the settings, or an error message and the error page).
  void StartInstallation();
  // Finish on a final page: on the success page opens the description document when it
  // exists and the check box is ticked; then destroys the main window.
  void Finish();

 private:
  // Tests look at the pages, the window and its buttons (ui/wizard_test_access.h).
  friend class WizardTestAccess;

  // Run without the final stop and join.
  void RunSteps();
  // GTK's start, once (Run, or the first call that needs it): has_display_ tells whether
  // it found a display.
  void InitGtk();
  // Whether the checks and the fontconfig warm-up may run beside GTK's start
  // (ui/gtk_start.h).
  bool WorkBesideGtkStart() const;
  // Gives checks_ the pre-installation checks, once.
  void PrepareChecks();
  // The main window with its buttons, hidden, while the checks run: everything that does
  // not depend on the kit. FinishMainWindow then measures the kit's welcome text, lays the
  // window out and shows it.
  void BuildMainWindow();
  void FinishMainWindow();
  // What the buttons (made already) and the pages' texts other than the kit's welcome text
  // need at the font in force.
  WizardNeeds MeasureNeeds();
  // Starts the worker on the channel and turns the loop until the run has ended: true for
  // success; otherwise flow_.result() says how the run failed.
  bool WaitForInstallation();
  // A message for the user: a message box, or standard error (without a display or with
  // --no-dialogs) followed by the cause's line. An error is also a failure record of the
  // log. Returns the answer (kMessageBoxNoAnswer when nobody was asked).
  int ShowMessage(const WideString& text, MessageBoxFlags flags, const Status& cause = Status());
  // The failure record of the log.
  void LogFailure(const WideString& text, const Status& cause);
  // The caption, the text and, when there is one, the cause's line, on standard error.
  void WriteMessageToStderr(const WideString& text, const Status& cause);
  // Whether messages go to standard error rather than into message boxes.
  bool MessagesToStream() const { return !has_display_ || automation_.no_dialogs; }
  // Opens the --log file; false (and the failure reported) when it cannot be opened.
  bool OpenLog();
  void WriteStartRecord();
  void WriteEndRecord();
  // --target=DIR as a directory (*directory, and *target for the run): "~" expanded, a
  // relative one taken from the current directory. False with *cause set when the current
  // directory cannot be found.
  bool ResolveTargetOption(WideString* directory, TargetDirectory* target, Status* cause) const;
  // --dry-run after the checks: the plan on standard output, nothing written.
  void RunDryRun();
  // The line on a terminal during a silent run without a window; Clear takes it away.
  void ShowProgressLine(const ProgressReport& report);
  void ClearProgressLine();
  // After the checks: rolls back what a killed installation left in the default template
  // directory, unless another installer is at work there. Standard error says so; what
  // cannot be put back is shown with where it is kept, and a work folder that cannot be
  // trusted is shown and left alone. False when the directory must not be installed into.
  bool FinishInterruptedInstallation();
  // Tells that the installed directory could not be recorded in the launcher's settings
  // (SettingsFailureText): on standard error, prefixed "setup: ", without a main window, else
  // in a message box. The run stays a success.
  void ReportSettingsFailure(const SettingsWriteFailure& failure);
  // One turn of the main loop: waits for at least one event (the wake-up timer provides one
  // regularly).
  void TurnMainLoopOnce();
  void HandlePendingClose();
  void DestroyMainWindow();

  // The page sequence, the button states, the close rules and the installation's result.
  WizardFlow flow_;
  NarrowString caption_;
  WideString language_code_;
  // GTK may take its own options out of these.
  int argument_count_ = 0;
  char** argument_vector_ = nullptr;
  bool use_current_directory_ = false;
  bool gtk_initialised_ = false;
  bool has_display_ = false;

  // What the checks found, and the directory the templates go into.
  WideString kit_path_;
  DistributionKit kit_;
  WideString target_directory_;
  // The run's form of target_directory_, made where the directory was given (the settings,
  // --target, the directory page) and handed to the run as it is.
  TargetDirectory run_target_;
  // The launcher's template locations, which the installed directory joins on success.
  std::vector<WideString> TemplateLocations;
  bool locations_from_alternative_file_ = false;
  bool alternative_file_exists_ = false;
  // A kept work folder that the start found in the directory kept_work_folder_target_: a
  // run there can only fail before it writes anything.
  bool work_folder_kept_ = false;
  WideString kept_work_folder_target_;

  // The run: the channel the worker reports on (it holds pointers to it and to kit_), the
  // worker, and the stop signals watched while it runs.
  ProgressChannel channel_;
  WorkerHandle worker_;
  StopSignalWatches stop_signals_;
  int stop_signal_number_ = 0;

  // The main window. layout_: its geometry, by which ShowPage arranges each page; needs_:
  // what BuildMainWindow measured.
  GtkWidget* main_window_ = nullptr;
  GtkWidget* fixed_ = nullptr;
  GtkWidget* separator_ = nullptr;
  GtkWidget* back_button_ = nullptr;
  GtkWidget* next_button_ = nullptr;
  GtkWidget* cancel_button_ = nullptr;
  GdkPixbuf* window_icon_ = nullptr;
  GdkPixbuf* page_picture_ = nullptr;
  WizardLayout layout_;
  WizardNeeds needs_;
  // The pages, made when first shown and kept until the dialog goes.
  std::unique_ptr<MessagePage> welcome_page_;
  std::unique_ptr<DirSelectPage> directory_page_;
  std::unique_ptr<ProgressPage> progress_page_;
  std::unique_ptr<SuccessFinalPage> success_page_;
  std::unique_ptr<MessagePage> error_page_;
  WizardDialogPage* current_page_ = nullptr;

  // Unattended runs.
  AutomationOptions automation_;
  RunLog log_;
  RunTally tally_{&log_};
  RunOutcome outcome_ = RunOutcome::kChecksFailed;
  bool start_recorded_ = false;
  TerminalProgressLine progress_line_;

  // Fontconfig read on a thread of its own while GTK is initialised (ui/font_warm_up.h).
  FontWarmUp font_warm_up_;
  // The checks, on a thread of their own during Run, and what they found (theirs alone
  // until checks_ has been waited for). Declared last: destroyed first, joined before the
  // members the thread fills in go.
  PreinstallResult check_result_ = PreinstallResult::kKitNotFound;
  PreinstallFindings check_findings_;
  BackgroundChecks checks_;
};

#endif  // UI_INSTALLER_DLG_H_
