// The dialog's behaviour over one run: the checks, the pages and the handlers of buttons and
// keys (as WizardFlow decides), the installation loop, the recording of the installed
// directory and Finish.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/phase_trace.h"
#include "app/string_table.h"
#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/shell_commands.h"
#include "install/install_job.h"
#include "install/write_forecast.h"
#include "install/recovery.h"
#include "install/relative_path.h"
#include "text/locale_conversions.h"
#include "kit/preinstall_checks.h"
#include "text/path_slashes.h"
#include "ui/description_document.h"
#include "ui/installation_outcome.h"
#include "ui/installed_directory_record.h"
#include "ui/installer_dlg.h"
#include "ui/message_box.h"
#include "ui/welcome_text.h"

namespace {

// How often the installation loop wakes up at the latest to look at the channel, in
// milliseconds. One main-loop turn waits for an event, and an unchanged progress bar makes
// none, so without this timer the loop would wait for the user to move the mouse. The
// interval is also how late the end of a run can be noticed, which counts in a short run.
constexpr guint kChannelLookIntervalMs = 10;

constexpr guint kEscapeKey = 0xFF1B;

gboolean KeepLoopTurning(gpointer /*unused*/) { return TRUE; }

// Runs on the worker thread for every report. A final one (a failure, or the finish with
// 100) wakes the main loop at once, so the end of a short run is not noticed only when the
// look-up timer fires next.
void WakeLoopOnFinalReport(void* /*unused*/, int32_t code, const WideString& /*message*/,
                           int32_t percent) {
  if (JudgeProgress(code, percent, false) != InstallationOutcome::kRunning) {
    g_main_context_wakeup(nullptr);
  }
}

WideString Text(const char* identifier) { return LoadText(NarrowString(identifier)); }

// Whether directory could hold the templates: it is a directory, or nothing is there yet
// (nothing that is not a directory stands on its path).
bool UsableTargetDirectory(const TargetDirectory& directory) {
  if (directory.Problem() == kErrorInvalidParameter) return false;
  struct stat64 status;
  if (stat64(directory.Bytes().CStr(), &status) == 0) return S_ISDIR(status.st_mode);
  return errno != ENOTDIR;
}

void OnStopSignal(void* dialog, int signal_number) {
  static_cast<CInstallerDlg*>(dialog)->StopBySignal(signal_number);
}

}  // namespace

void CInstallerDlg::Run() {
  RunSteps();
  worker_.RequestStop();
  worker_.Join();
  ClearProgressLine();
  WriteEndRecord();
}

void CInstallerDlg::RunSteps() {
  outcome_ = RunOutcome::kChecksFailed;
  if (!OpenLog()) return;
  // The checks run beside GTK's start and the window's build; the window is shown only once
  // they passed, so what the user sees, and in which order, is as if they had run first.
  // Only where a window may be built, and where GTK's start leaves the environment alone
  // (ui/gtk_start.h): the checks read it.
  PrepareChecks();
  if (!automation_.dry_run && WorkBesideGtkStart()) checks_.Start();
  InitGtk();
  if (!has_display_ && !flow_.silent() && !automation_.dry_run) {
    WriteStartRecord();
    std::fprintf(stderr, "setup: cannot open a display; run with -S to install without a window\n");
    return;
  }
  if (has_display_ && !automation_.dry_run) BuildMainWindow();
  if (!RunPreinstallChecks()) return;
  TracePhase("kit_checked");
  if (automation_.dry_run) {
    RunDryRun();
    return;
  }
  // A silent run has no other directory to turn to; the wizard's user may choose one.
  // A run that ends before its window is shown ends without it.
  if (!FinishInterruptedInstallation() && flow_.silent()) {
    DestroyMainWindow();
    return;
  }
  if (flow_.silent() && target_directory_.Empty()) {
    DestroyMainWindow();
    // Silent mode takes the checks' directory as it is; an empty one would put the
    // templates into the current directory.
    ShowMessage(Text("IDS_ERROR_NOTARGET"), kMessageBoxErrorOk,
                Status::Failure(kErrorPathNotFound, NarrowString(),
                                NarrowString("the template directory of the settings is empty")));
    return;
  }
  if (has_display_) {
    CreateMainWindow();
    ShowWelcomePage();
  }
  TracePhase("window_shown");
  if (flow_.silent()) {
    StartInstallation();
    return;
  }
  // A window closed before any installation ran: the user cancelled.
  outcome_ = RunOutcome::kCancelled;
  if (main_window_ != nullptr) gtk_main();
}

void CInstallerDlg::PrepareChecks() {
  if (checks_.HasChecks()) return;
  // Only a silent run knows its directory now: its kit stores no data when nothing is to be
  // written there. A --target that cannot be resolved gives no look; it fails after the
  // checks.
  PreinstallLook look;
  WideString option_directory;
  TargetDirectory option_target;
  Status unused_cause;
  if (flow_.silent() &&
      (!automation_.has_target ||
       ResolveTargetOption(&option_directory, &option_target, &unused_cause))) {
    const bool has_option = automation_.has_target;
    look = [has_option, option_target](const TargetDirectory& checks_target,
                                       const std::vector<KitEntry>& entries) {
      return SomeEntryNeedsWriting(has_option ? option_target : checks_target, entries);
    };
  }
  // On the checks' thread: what they fill in is not touched elsewhere before Wait.
  checks_.Set([this, look] {
    check_result_ = RunPreinstallSteps(use_current_directory_, &TemplateLocations,
                                       &check_findings_, &kit_, look);
  });
}

bool CInstallerDlg::RunPreinstallChecks() {
  InitGtk();
  PrepareChecks();
  checks_.Wait();
  const PreinstallFindings& findings = check_findings_;
  PreinstallResult result = check_result_;
  kit_path_ = findings.kit_path;
  alternative_file_exists_ = findings.alternative_file_exists;
  locations_from_alternative_file_ = findings.locations_from_alternative_file;
  target_directory_ = findings.target_directory;
  run_target_ = findings.target;
  for (const WideString& stranded : findings.stranded_work_folders) {
    std::fprintf(stderr,
                 "setup: %s cannot be written, so it was passed over; what an interrupted "
                 "installation left there stays in its work folder .t5stp\n",
                 ToLocaleBytes(stranded).CStr());
  }
  Status cause = findings.cause;
  if (result == PreinstallResult::kReady && automation_.has_target &&
      !ResolveTargetOption(&target_directory_, &run_target_, &cause)) {
    result = PreinstallResult::kNoTarget;
  }
  WriteStartRecord();
  if (result == PreinstallResult::kReady) return true;
  // A failed check shows its message and never the window built beside it.
  DestroyMainWindow();
  // Standard error says what the system said: a kit that cannot be read is not called
  // damaged there. The message box keeps its text.
  const WideString text = result == PreinstallResult::kKitUnreadable && MessagesToStream()
                              ? FromLocaleBytes(NarrowString(kUnreadableKitText))
                              : LoadText(PreinstallMessageId(result));
  ShowMessage(text, kMessageBoxErrorOk, cause);
  return false;
}

void CInstallerDlg::ShowWelcomePage() {
  const WideString welcome = WelcomeText(kit_, language_code_);
  if (!welcome_page_) welcome_page_.reset(new MessagePage(fixed_, page_picture_, welcome));
  ApplyButtons(flow_.EnterPage(kWelcomePage));
  ShowPage(welcome_page_.get());
}

void CInstallerDlg::ShowDirectoryPage() {
  const WizardButtons buttons = flow_.EnterPage(kDirectoryPage);
  if (!directory_page_) directory_page_.reset(new DirSelectPage(fixed_, page_picture_));
  directory_page_->SetPath(target_directory_);
  ApplyButtons(buttons);
  ShowPage(directory_page_.get());
}

void CInstallerDlg::ShowErrorPage() {
  if (main_window_ == nullptr) return;
  if (!error_page_) {
    error_page_.reset(new MessagePage(fixed_, page_picture_, Text("IDS_ERROR_FINISH")));
  }
  ApplyButtons(flow_.EnterPage(kErrorPage));
  ShowPage(error_page_.get());
}

void CInstallerDlg::ShowSuccessPage() {
  if (main_window_ == nullptr) return;
  const WizardButtons buttons = flow_.EnterPage(kSuccessPage);
  if (!success_page_) {
    success_page_.reset(new SuccessFinalPage(fixed_, page_picture_, Text("IDS_SUCCESS_FINISH")));
  }
  ApplyButtons(buttons);
  ShowPage(success_page_.get());
}

void CInstallerDlg::OnBack() {
  if (flow_.OnBack() == WizardAction::kShowWelcomePage) ShowWelcomePage();
}

void CInstallerDlg::OnNext() {
  switch (flow_.OnNext()) {
    case WizardAction::kShowDirectoryPage:
      ShowDirectoryPage();
      break;
    case WizardAction::kStartInstallation: {
      WideString entered = directory_page_->GetPath();
      UseForwardSlashes(&entered);
      entered = ExpandHomeDirectory(entered);
      const TargetDirectory chosen(entered);
      // A relative path would be taken from the program's current directory, which the
      // user does not see.
      if (!chosen.IsAbsolute()) {
        ShowMessage(Text("IDS_SETUP_EMPTYTARGET"), kMessageBoxPlainOk);
        break;
      }
      target_directory_ = entered;
      run_target_ = chosen;
      StartInstallation();
      break;
    }
    case WizardAction::kFinish:
      Finish();
      break;
    default:
      break;
  }
}

void CInstallerDlg::OnCancel() {
  if (flow_.OnCancel() == WizardAction::kStopWorker) {
    worker_.RequestStop();
    return;
  }
  RequestClose();
}

bool CInstallerDlg::OnKeyPress(guint key_value) {
  if (key_value != kEscapeKey) return false;
  if (flow_.OnEscape() == WizardAction::kRequestClose) RequestClose();
  return true;
}

bool CInstallerDlg::OnDeleteRequest() { return flow_.OnWindowManagerClose(); }

void CInstallerDlg::RequestClose() {
  if (WizardFlow::CloseNeedsConfirmation(automation_.no_dialogs) &&
      MessageBox(this, Text("IDS_ACCEPT_CANCEL"), kMessageBoxQuestionYesNo) != kMessageBoxYes) {
    return;
  }
  DestroyMainWindow();
}

void CInstallerDlg::StartInstallation() {
  const bool with_window = main_window_ != nullptr;
  const WizardButtons buttons = flow_.EnterPage(kProgressPage);
  if (with_window) {
    if (!progress_page_) {
      progress_page_.reset(new ProgressPage(fixed_, layout_.window_width - 20));
    }
    ApplyButtons(buttons);
  }
  tally_.Reset();
  channel_.Start(&kit_, run_target_);
  if (with_window) {
    ShowPage(progress_page_.get());
  }
  progress_line_.SetWanted(flow_.silent() && !with_window && isatty(STDERR_FILENO) == 1);

  const bool succeeded = WaitForInstallation();
  // Copies: the message boxes below turn the main loop.
  const InstallationResult run = flow_.result();
  const WideString& failure_text = run.failure_text;
  const bool directory_changed = run.directory_changed;
  const bool cancelled = run.cancelled;
  const Status& cause = run.cause;
  if (!succeeded) {
    ClearProgressLine();
    const bool kept_here =
        work_folder_kept_ && kept_work_folder_target_.Compare(target_directory_) == 0;
    // A work folder the start could not finish, or a target that is no directory, stops
    // the run before it writes: that is a failed check, not a failed installation, whatever
    // the run's text says.
    outcome_ = flow_.FailedRunOutcome(
        tally_.Done() == 0 && (kept_here || !UsableTargetDirectory(run_target_)));
    if (stop_signal_number_ != 0) {
      // A stop asked for from outside ends the program: no message box waits for anyone.
      if (directory_changed) LogFailure(failure_text, cause);
      WriteMessageToStderr(failure_text, directory_changed ? cause : Status());
      std::fprintf(stderr, "setup: stopped by %s\n",
                   StopSignalWatches::Name(stop_signal_number_));
      std::fflush(stderr);
      log_.Write(RunLog::Record("cancel")
                     .Bytes("signal", NarrowString(StopSignalWatches::Name(stop_signal_number_)))
                     .Text("message", failure_text));
      DestroyMainWindow();
      return;
    }
    if (cancelled && !directory_changed) {
      log_.Write(RunLog::Record("cancel").Text("message", failure_text));
      if (MessagesToStream()) {
        WriteMessageToStderr(failure_text, Status());
      } else {
        MessageBox(this, failure_text, kMessageBoxErrorOk);
      }
    } else {
      ShowMessage(failure_text, kMessageBoxErrorOk, cause);
    }
    ShowErrorPage();
    // The error page must not say that the directory was not changed when it was: it
    // shows where the originals are kept instead.
    if (directory_changed && error_page_) error_page_->SetText(failure_text);
  } else {
    ClearProgressLine();
    outcome_ = WizardFlow::SucceededRunOutcome(tally_.Count(EntryAction::kNew) +
                                               tally_.Count(EntryAction::kReplaced));
    ShowSuccessPage();
    SettingsWriteFailure failure;
    if (RecordInstalledDirectory(target_directory_, &TemplateLocations,
                                 locations_from_alternative_file_, alternative_file_exists_,
                                 &failure) != kSettingsWritten) {
      ReportSettingsFailure(failure);
    }
  }
  HandlePendingClose();
}

bool CInstallerDlg::WaitForInstallation() {
  flow_.BeginInstallation();
  const guint wake_timer = g_timeout_add(kChannelLookIntervalMs, KeepLoopTurning, nullptr);
  channel_.SetObserver(WakeLoopOnFinalReport, nullptr);
  channel_.SetRunObserver(&tally_);
  // Installed before the worker starts and removed only after the run has ended, so that
  // a signal at any moment of the run, a second one during its rollback included, is a
  // request to stop and never ends the process under the run.
  stop_signals_.Install(OnStopSignal, this);
  worker_.Start(&channel_);

  // Each look is judged before the main-loop turn: a run that has ended is not kept waiting
  // for one more event.
  InstallationOutcome outcome = InstallationOutcome::kRunning;
  for (;;) {
    const bool worker_ended = worker_.HasEnded();
    const ProgressReport report = channel_.Read();
    if (progress_page_ && main_window_ != nullptr) {
      if (report.note) {
        progress_page_->ShowNote(report.message);
      } else {
        progress_page_->SetProgress(report.percent);
      }
    }
    if (!report.note) ShowProgressLine(report);
    outcome = flow_.Look(report, worker_ended);
    if (outcome != InstallationOutcome::kRunning) break;
    TurnMainLoopOnce();
  }
  // One more turn, without waiting, while the progress page is still up: the window shows
  // the final state, and input that came during a run too short for a turn of its own is
  // handled as input during the run.
  g_main_context_iteration(nullptr, FALSE);
  if (outcome == InstallationOutcome::kEndedWithoutReport) {
    flow_.EndWithoutReport(stop_signal_number_ != 0, worker_.creation_result() == 0);
  }

  g_source_remove(wake_timer);
  // The run posts nothing more; the worker only pauses or ends. A signal from here on is
  // no longer a stop request; after a stop, further requests to stop are answered already,
  // and the program ends by the first one.
  worker_.RequestStop();
  worker_.Join();
  stop_signals_.Remove(stop_signal_number_ != 0);
  channel_.SetRunObserver(nullptr);
  flow_.EndInstallation();
  return outcome == InstallationOutcome::kSucceeded;
}

void CInstallerDlg::ReportSettingsFailure(const SettingsWriteFailure& failure) {
  // The templates are installed and the success page stays; only the launcher will not find
  // them by itself, which the user must know.
  const WideString text = SettingsFailureText(failure);
  if (main_window_ == nullptr) {
    std::fprintf(stderr, "setup: %s\n", ToLocaleBytes(text).CStr());
  } else {
    MessageBox(this, text, kMessageBoxErrorOk);
  }
}

bool CInstallerDlg::FinishInterruptedInstallation() {
  if (run_target_.Problem() != kSuccess) return true;
  const NarrowString& target = run_target_.Bytes();
  RecoveryDetail detail;
  const RecoveryOutcome outcome = RecoverTemplateDirectory(target, &detail);
  switch (outcome) {
    case RecoveryOutcome::kRolledBack:
      ReportInterruptedInstallationRolledBack(target);
      log_.Write(RunLog::Record("recovery").Bytes("target", target));
      return true;
    case RecoveryOutcome::kKept:
      work_folder_kept_ = true;
      kept_work_folder_target_ = target_directory_;
      ReportWorkFolderLeftAlone(target, outcome, detail);
      ShowMessage(InstallJob::RestoreFailureText(WorkFolderPath(target)), kMessageBoxErrorOk,
                  Status::Failure(kErrorInvalidParameter, WorkFolderPath(target), detail.reason));
      return false;
    case RecoveryOutcome::kUntrusted: {
      work_folder_kept_ = true;
      kept_work_folder_target_ = target_directory_;
      ReportWorkFolderLeftAlone(target, outcome, detail);
      WideString text = Text("IDS_ERROR_UNTRUSTED");
      text.Append(u'\n');
      text.Append(FromLocaleBytes(WorkFolderPath(target)));
      ShowMessage(text, kMessageBoxErrorOk,
                  Status::Failure(kErrorInvalidParameter, WorkFolderPath(target), detail.reason));
      return false;
    }
    case RecoveryOutcome::kBusy:
      work_folder_kept_ = true;
      kept_work_folder_target_ = target_directory_;
      ReportWorkFolderLeftAlone(target, outcome, detail);
      return false;
    default:
      return true;
  }
}

void CInstallerDlg::TurnMainLoopOnce() {
  if (has_display_) {
    gtk_main_iteration();
  } else {
    g_main_context_iteration(nullptr, TRUE);
  }
}

void CInstallerDlg::HandlePendingClose() {
  switch (flow_.TakePendingClose(main_window_ != nullptr)) {
    case WizardAction::kRequestClose:
      RequestClose();
      break;
    case WizardAction::kDestroyWindow:
      DestroyMainWindow();
      break;
    default:
      break;
  }
}

void CInstallerDlg::Finish() {
  if (flow_.page() == kSuccessPage && success_page_) {
    const WideString document =
        DescriptionDocumentPath(target_directory_, kit_.GetDescriptionDocument(language_code_));
    if (!document.Empty() && PathExists(document) && success_page_->OpenDescriptionWanted()) {
      // Empty for a path the locale cannot encode: nothing to hand to the shell then.
      const NarrowString command = DescriptionOpenCommand(document);
      if (!command.Empty()) ShellRun(command);
    }
  }
  DestroyMainWindow();
}
