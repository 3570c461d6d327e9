// The dialog's behaviour over one run: the checks, the page sequence, the button and key
// handlers, the installation loop, the recording of the installed directory and Finish.

#include <glib-unix.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/progress_line.h"
#include "app/string_table.h"
#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/shell_commands.h"
#include "install/install_job.h"
#include "install/installation_plan.h"
#include "install/recovery.h"
#include "install/relative_path.h"
#include "text/locale_conversions.h"
#include "kit/preinstall_checks.h"
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

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

gboolean OnStopSignal(gpointer data) {
  const auto* watch = static_cast<const CInstallerDlg::SignalWatch*>(data);
  watch->dialog->StopBySignal(watch->number);
  return G_SOURCE_CONTINUE;
}

const char* SignalName(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal";
  }
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
  if (!has_display_ && !silent_ && !automation_.dry_run) {
    WriteStartRecord();
    std::fprintf(stderr, "setup: cannot open a display; run with -S to install without a window\n");
    return;
  }
  if (!RunPreinstallChecks()) return;
  if (automation_.dry_run) {
    RunDryRun();
    return;
  }
  FinishInterruptedInstallation();
  if (silent_ && target_directory_.Empty()) {
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
  if (silent_) {
    StartInstallation();
    return;
  }
  // A window closed before any installation ran: the user cancelled.
  outcome_ = RunOutcome::kCancelled;
  if (main_window_ != nullptr) gtk_main();
}

bool CInstallerDlg::RunPreinstallChecks() {
  PreinstallFindings findings;
  PreinstallResult result =
      RunPreinstallSteps(use_current_directory_, &TemplateLocations, &findings, &kit_);
  kit_path_ = findings.kit_path;
  alternative_file_exists_ = findings.alternative_file_exists;
  locations_from_alternative_file_ = findings.locations_from_alternative_file;
  target_directory_ = findings.target_directory;
  Status cause = findings.cause;
  if (result == PreinstallResult::kReady && automation_.has_target &&
      !ResolveTargetOption(&target_directory_, &cause)) {
    result = PreinstallResult::kNoTarget;
  }
  WriteStartRecord();
  if (result == PreinstallResult::kReady) return true;
  // Standard error says what the system said: a kit that cannot be read is not called
  // damaged there. The message box keeps its text.
  const WideString text = result == PreinstallResult::kKitUnreadable && MessagesToStream()
                              ? FromLocaleBytes(NarrowString(kUnreadableKitText))
                              : LoadText(PreinstallMessageId(result));
  ShowMessage(text, kMessageBoxErrorOk, cause);
  return false;
}

bool CInstallerDlg::ResolveTargetOption(WideString* directory, Status* cause) const {
  WideString given = ExpandHomeDirectory(FromLocaleBytes(automation_.target));
  if (IsAbsolutePath(given)) {
    *directory = given;
    return true;
  }
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) {
    *cause = Status::FromErrno(errno, automation_.target);
    return false;
  }
  WideString resolved = FromLocaleBytes(NarrowString(current));
  std::free(current);
  if (resolved.Empty() || resolved[resolved.Length() - 1] != u'/') resolved.Append(u'/');
  resolved.Append(given);
  *directory = resolved;
  return true;
}

bool CInstallerDlg::OpenLog() {
  if (!automation_.has_log) return true;
  // "~" and "~/..." as for --target; a relative path is the system's, from the current
  // directory.
  NarrowString path = automation_.log_path;
  if (!ToLocaleBytesExact(ExpandHomeDirectory(FromLocaleBytes(path)), &path)) {
    path = automation_.log_path;
  }
  const Status opened = log_.Open(path);
  if (opened.ok()) return true;
  // Nothing has been written: the run ends at the checks, on standard error whatever the
  // display, as the log was meant for an unattended run.
  ClearProgressLine();
  std::fprintf(stderr, "setup: the log file cannot be opened\n%s\n", opened.ToString().CStr());
  return false;
}

void CInstallerDlg::WriteStartRecord() {
  if (start_recorded_) return;
  start_recorded_ = true;
  log_.Write(RunLog::Record("start")
                 .Bytes("version", NarrowString(ProgramVersion()))
                 .Text("kit", kit_path_)
                 .Text("target", target_directory_)
                 .Text("language", language_code_)
                 .Flag("silent", silent_)
                 .Flag("dry_run", automation_.dry_run)
                 .Number("pid", static_cast<int64_t>(getpid())));
}

void CInstallerDlg::WriteEndRecord() {
  if (!log_.IsOpen()) return;
  RunLog::Record record("end");
  record.Bytes("outcome", NarrowString(RunOutcomeName(outcome_)))
      .Number("exit_status", ExitStatusOf(outcome_))
      .Number("new", static_cast<int64_t>(tally_.Count(EntryAction::kNew)))
      .Number("replaced", static_cast<int64_t>(tally_.Count(EntryAction::kReplaced)))
      .Number("up_to_date", static_cast<int64_t>(tally_.Count(EntryAction::kUpToDate)));
  if (stop_signal_number_ != 0) record.Bytes("signal", NarrowString(SignalName(stop_signal_number_)));
  record.Flag("dry_run", automation_.dry_run);
  log_.Write(record);
  const Status failed = log_.WriteFailure();
  if (!failed.ok()) {
    std::fprintf(stderr, "setup: the log file could not be written whole\n%s\n",
                 failed.ToString().CStr());
  }
}

int CInstallerDlg::ShowMessage(const WideString& text, MessageBoxFlags flags, const Status& cause) {
  if (flags == kMessageBoxErrorOk) LogFailure(text, cause);
  if (!MessagesToStream()) return MessageBox(this, text, flags);
  WriteMessageToStderr(text, cause);
  return kMessageBoxNoAnswer;
}

void CInstallerDlg::LogFailure(const WideString& text, const Status& cause) {
  RunLog::Record record("failure");
  record.Text("message", text);
  if (!cause.ok()) record.Cause(cause);
  log_.Write(record);
}

void CInstallerDlg::WriteMessageToStderr(const WideString& text, const Status& cause) {
  ClearProgressLine();
  WriteMessageToStream(stderr, ToLocaleBytes(GetTitle()), ToLocaleBytes(text));
  if (!cause.ok()) {
    std::fprintf(stderr, "%s\n", cause.ToString().CStr());
    std::fflush(stderr);
  }
}

void CInstallerDlg::RunDryRun() {
  std::vector<PlannedEntry> plan;
  const Status planned = PlanInstallation(kit_, target_directory_, &plan);
  uint64_t counts[3] = {0, 0, 0};
  for (const PlannedEntry& entry : plan) {
    const char* word = entry.action == EntryAction::kNew        ? "new"
                       : entry.action == EntryAction::kReplaced ? "replace"
                                                                : "up-to-date";
    std::fprintf(stdout, "%s %s\n", word, ToLocaleBytes(entry.path).CStr());
    ++counts[static_cast<int>(entry.action)];
    tally_.EntryDone(entry.path, entry.action);
  }
  if (!planned.ok()) {
    std::fflush(stdout);
    ShowMessage(Text("IDS_INSTALL_ERROR"), kMessageBoxErrorOk, planned);
    outcome_ = RunOutcome::kFailed;
    return;
  }
  std::fprintf(stdout, "%llu new, %llu to replace, %llu up to date\n",
               static_cast<unsigned long long>(counts[0]),
               static_cast<unsigned long long>(counts[1]),
               static_cast<unsigned long long>(counts[2]));
  std::fflush(stdout);
  outcome_ = counts[0] + counts[1] == 0 ? RunOutcome::kUpToDate : RunOutcome::kInstalled;
}

void CInstallerDlg::StopBySignal(int signal_number) {
  // The first signal sets the request; a later one finds it set and changes nothing, so
  // the rollback under way runs to its end.
  if (stop_signal_number_ == 0) stop_signal_number_ = signal_number;
  channel_.RequestCancel();
  worker_.RequestStop();
}

void CInstallerDlg::ShowProgressLine(const ProgressReport& report) {
  if (!progress_line_wanted_ || report.code != 0 || report.percent > 99) return;
  const NarrowString line = ProgressLine(report.percent, tally_.Done(), kit_.EntryCount(),
                                         report.message, TerminalColumns(STDERR_FILENO));
  if (progress_line_shown_ && line.Compare(progress_line_) == 0) return;
  progress_line_ = line;
  std::fprintf(stderr, "\r%s\033[K", line.CStr());
  std::fflush(stderr);
  progress_line_shown_ = true;
}

void CInstallerDlg::ClearProgressLine() {
  if (!progress_line_shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  progress_line_shown_ = false;
}

void CInstallerDlg::ShowWelcomePage() {
  const WideString welcome = WelcomeText(kit_, language_code_);
  if (!welcome_page_) welcome_page_.reset(new MessagePage(fixed_, page_picture_, welcome));
  if (silent_) {
    gtk_widget_hide(back_button_);
    gtk_widget_hide(next_button_);
  } else {
    gtk_widget_set_sensitive(back_button_, FALSE);
  }
  PageKind = kWelcomePage;
  ShowPage(welcome_page_.get());
}

void CInstallerDlg::ShowDirectoryPage() {
  PageKind = kDirectoryPage;
  if (!directory_page_) directory_page_.reset(new DirSelectPage(fixed_, page_picture_));
  directory_page_->SetPath(target_directory_);
  gtk_widget_set_sensitive(back_button_, TRUE);
  gtk_widget_set_sensitive(next_button_, TRUE);
  ShowPage(directory_page_.get());
}

void CInstallerDlg::ShowErrorPage() {
  if (main_window_ == nullptr) return;
  if (!error_page_) {
    error_page_.reset(new MessagePage(fixed_, page_picture_, Text("IDS_ERROR_FINISH")));
  }
  PageKind = kErrorPage;
  SetFinishButtons();
  ShowPage(error_page_.get());
}

void CInstallerDlg::ShowSuccessPage() {
  if (main_window_ == nullptr) return;
  PageKind = kSuccessPage;
  if (!success_page_) {
    success_page_.reset(new SuccessFinalPage(fixed_, page_picture_, Text("IDS_SUCCESS_FINISH")));
  }
  SetFinishButtons();
  ShowPage(success_page_.get());
}

void CInstallerDlg::OnBack() {
  if (PageKind == kDirectoryPage) ShowWelcomePage();
}

void CInstallerDlg::OnNext() {
  switch (PageKind) {
    case kWelcomePage:
      ShowDirectoryPage();
      break;
    case kDirectoryPage: {
      WideString entered = directory_page_->GetPath();
      entered.ReplaceAll(WideString(u"\\"), WideString(u"/"));
      entered = ExpandHomeDirectory(entered);
      // A relative path would be taken from the program's current directory, which the
      // user does not see.
      if (!IsAbsolutePath(entered)) {
        ShowMessage(Text("IDS_SETUP_EMPTYTARGET"), kMessageBoxPlainOk);
        break;
      }
      target_directory_ = entered;
      StartInstallation();
      break;
    }
    case kSuccessPage:
    case kErrorPage:
      Finish();
      break;
    default:
      break;
  }
}

void CInstallerDlg::OnCancel() {
  if (PageKind == kProgressPage) {
    worker_.RequestStop();
    stopped_by_user_ = true;
    return;
  }
  RequestClose();
}

bool CInstallerDlg::OnKeyPress(guint key_value) {
  if (key_value != kEscapeKey) return false;
  if (installing_) {
    if (pending_close_ == PendingClose::kNone) pending_close_ = PendingClose::kConfirm;
  } else {
    RequestClose();
  }
  return true;
}

bool CInstallerDlg::OnDeleteRequest() {
  if (!installing_) return false;
  pending_close_ = PendingClose::kImmediate;
  return true;
}

void CInstallerDlg::RequestClose() {
  // With --no-dialogs nobody is asked: the request to close is the answer.
  if (confirm_close_ && !automation_.no_dialogs &&
      MessageBox(this, Text("IDS_ACCEPT_CANCEL"), kMessageBoxQuestionYesNo) != kMessageBoxYes) {
    return;
  }
  DestroyMainWindow();
}

void CInstallerDlg::StartInstallation() {
  const bool with_window = main_window_ != nullptr;
  if (with_window) {
    if (!progress_page_) progress_page_.reset(new ProgressPage(fixed_, width_ - 20));
    gtk_widget_set_sensitive(back_button_, FALSE);
    gtk_widget_set_sensitive(next_button_, FALSE);
  }
  tally_.Reset();
  channel_.Start(&kit_, target_directory_);
  if (with_window) {
    ShowPage(progress_page_.get());
  }
  PageKind = kProgressPage;
  progress_line_wanted_ = silent_ && !with_window && isatty(STDERR_FILENO) == 1;

  WideString failure_text;
  bool directory_changed = false;
  bool cancelled = false;
  Status cause;
  if (!WaitForInstallation(&failure_text, &directory_changed, &cause, &cancelled)) {
    ClearProgressLine();
    if (work_folder_kept_ && kept_work_folder_target_.Compare(target_directory_) == 0 &&
        tally_.Done() == 0) {
      // A work folder the start could not finish stops the run before it writes: that is
      // a failed check, not a failed installation, whatever the run's text says.
      outcome_ = RunOutcome::kChecksFailed;
    } else if (directory_changed) {
      outcome_ = RunOutcome::kFailedKept;
    } else if (cancelled) {
      outcome_ = RunOutcome::kCancelled;
    } else {
      outcome_ = RunOutcome::kFailed;
    }
    if (stop_signal_number_ != 0) {
      // A stop asked for from outside ends the program: no message box waits for anyone.
      if (directory_changed) LogFailure(failure_text, cause);
      WriteMessageToStderr(failure_text, directory_changed ? cause : Status());
      std::fprintf(stderr, "setup: stopped by %s\n", SignalName(stop_signal_number_));
      std::fflush(stderr);
      log_.Write(RunLog::Record("cancel")
                     .Bytes("signal", NarrowString(SignalName(stop_signal_number_)))
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
    outcome_ = tally_.Count(EntryAction::kNew) + tally_.Count(EntryAction::kReplaced) == 0
                   ? RunOutcome::kUpToDate
                   : RunOutcome::kInstalled;
    ShowSuccessPage();
    RecordInstalledDirectory(target_directory_, &TemplateLocations,
                             locations_from_alternative_file_, alternative_file_exists_);
  }
  HandlePendingClose();
}

bool CInstallerDlg::WaitForInstallation(WideString* failure_text, bool* directory_changed,
                                        Status* cause, bool* cancelled) {
  installing_ = true;
  pending_close_ = PendingClose::kNone;
  stopped_by_user_ = false;
  const guint wake_timer = g_timeout_add(kChannelLookIntervalMs, KeepLoopTurning, nullptr);
  channel_.SetObserver(WakeLoopOnFinalReport, nullptr);
  channel_.SetRunObserver(&tally_);
  // Installed before the worker starts and removed only after the run has ended, so that
  // a signal at any moment of the run, a second one during its rollback included, is a
  // request to stop and never ends the process under the run.
  // A signal the caller ignores (nohup, a background job's SIGINT) stays ignored.
  for (std::size_t i = 0; i < sizeof kStopSignals / sizeof kStopSignals[0]; ++i) {
    signal_watches_[i] = SignalWatch{this, kStopSignals[i], 0};
    struct sigaction before;
    if (sigaction(kStopSignals[i], nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    signal_watches_[i].source = g_unix_signal_add(kStopSignals[i], OnStopSignal,
                                                  &signal_watches_[i]);
  }
  worker_.Start(&channel_);

  // Each look is judged before the main-loop turn: a run that has ended is not kept waiting
  // for one more event.
  InstallationOutcome outcome = InstallationOutcome::kRunning;
  for (;;) {
    const bool worker_ended = worker_.HasEnded();
    const ProgressReport report = channel_.Read();
    if (progress_page_ && main_window_ != nullptr) progress_page_->SetProgress(report.percent);
    ShowProgressLine(report);
    outcome = JudgeProgress(report.code, report.percent, worker_ended);
    if (outcome == InstallationOutcome::kFailed) {
      *failure_text = report.message;
      *directory_changed = report.directory_changed;
      *cause = report.cause;
      *cancelled = report.code == static_cast<int32_t>(kErrorCancelled);
    }
    if (outcome != InstallationOutcome::kRunning) break;
    TurnMainLoopOnce();
  }
  // One more turn, without waiting, while the progress page is still up: the window shows
  // the final state, and input that came during a run too short for a turn of its own is
  // handled as input during the run.
  g_main_context_iteration(nullptr, FALSE);
  if (outcome == InstallationOutcome::kEndedWithoutReport) {
    // No report can come any more. Either the worker could not be created, or a stop
    // requested with Cancel or a signal ended the run (or its wait for the directory's
    // lock) with its rollback complete.
    *cancelled = (stopped_by_user_ || stop_signal_number_ != 0) && worker_.creation_result() == 0;
    *failure_text = Text(*cancelled ? "IDS_CANCEL_FINISH" : "IDS_INSTALL_ERROR");
  }

  g_source_remove(wake_timer);
  // The run posts nothing more; the worker only pauses or ends. A signal from here on is
  // no longer a stop request.
  worker_.RequestStop();
  worker_.Join();
  for (SignalWatch& watch : signal_watches_) {
    if (watch.source == 0) continue;
    g_source_remove(watch.source);
    watch.source = 0;
    // The signal's own action again, whatever GLib leaves behind.
    signal(watch.number, SIG_DFL);
  }
  channel_.SetRunObserver(nullptr);
  installing_ = false;
  return outcome == InstallationOutcome::kSucceeded;
}

void CInstallerDlg::FinishInterruptedInstallation() {
  NarrowString target;
  if (!ToLocaleBytesExact(target_directory_, &target) || target.Empty() || target[0] != '/') {
    return;
  }
  switch (RecoverTemplateDirectory(target)) {
    case RecoveryOutcome::kRolledBack:
      ReportInterruptedInstallationRolledBack(target);
      break;
    case RecoveryOutcome::kKept:
      work_folder_kept_ = true;
      kept_work_folder_target_ = target_directory_;
      ShowMessage(InstallJob::RestoreFailureText(WorkFolderPath(target)), kMessageBoxErrorOk,
                  Status::Failure(kErrorInvalidParameter, WorkFolderPath(target),
                                  NarrowString("a work folder that no finished run explains")));
      break;
    default:
      break;
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
  const PendingClose request = pending_close_;
  pending_close_ = PendingClose::kNone;
  // In silent mode the run ends here anyway; the window goes with the dialog.
  if (silent_ || main_window_ == nullptr) return;
  if (request == PendingClose::kConfirm) RequestClose();
  if (request == PendingClose::kImmediate) DestroyMainWindow();
}

void CInstallerDlg::Finish() {
  if (PageKind == kSuccessPage && success_page_) {
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
