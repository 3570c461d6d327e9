// The dialog's part in unattended runs: the --target directory, the log, messages on
// standard error with their causes, the dry run, the stop by a signal and the progress line
// on a terminal.

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/progress_line.h"
#include "app/string_table.h"
#include "config/well_known_locations.h"
#include "install/installation_plan.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"
#include "ui/installer_dlg.h"
#include "ui/message_box.h"

bool CInstallerDlg::ResolveTargetOption(WideString* directory, TargetDirectory* target,
                                        Status* cause) const {
  WideString given = ExpandHomeDirectory(FromLocaleBytes(automation_.target));
  if (IsAbsolutePath(given)) {
    *directory = given;
    *target = TargetDirectory(given);
    return true;
  }
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) {
    *cause = Status::FromErrno(errno, automation_.target);
    return false;
  }
  WideString resolved = FromLocaleBytes(NarrowString(current));
  std::free(current);
  AppendSlash(&resolved);
  resolved.Append(given);
  *directory = resolved;
  *target = TargetDirectory(resolved);
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
                 .Flag("silent", flow_.silent())
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
  if (stop_signal_number_ != 0) {
    record.Bytes("signal", NarrowString(StopSignalWatches::Name(stop_signal_number_)));
  }
  record.Flag("dry_run", automation_.dry_run);
  log_.Write(record);
  const Status failed = log_.WriteFailure();
  if (!failed.ok()) {
    std::fprintf(stderr, "setup: the log file could not be written whole\n%s\n",
                 failed.ToString().CStr());
  }
}

int CInstallerDlg::ShowMessage(const WideString& text, MessageBoxFlags flags, const Status& cause) {
  if (flags == kMessageBoxErrorOk) {
    LogFailure(text, cause);
  } else if (flags != kMessageBoxQuestionYesNo) {
    log_.Write(RunLog::Record("message").Text("message", text));
  }
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
  const Status planned = PlanInstallation(kit_, run_target_, &plan);
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
    ShowMessage(LoadText(NarrowString("IDS_INSTALL_ERROR")), kMessageBoxErrorOk, planned);
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
  if (!progress_line_.wanted() || report.code != 0 || report.percent > 99) return;
  progress_line_.Show(ProgressLine(report.percent, tally_.Done(), kit_.EntryCount(),
                                   report.message, TerminalColumns(STDERR_FILENO)));
}

void CInstallerDlg::ClearProgressLine() { progress_line_.Clear(); }

