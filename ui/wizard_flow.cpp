#include "ui/wizard_flow.h"

#include "app/string_table.h"
#include "fs/error_codes.h"

WizardButtons WizardFlow::EnterPage(int page) {
  page_ = page;
  return ButtonsOf(page);
}

WizardButtons WizardFlow::ButtonsOf(int page) const {
  WizardButtons buttons;
  switch (page) {
    case kWelcomePage:
      // Nothing comes before the welcome page; a silent run has nothing to choose.
      buttons.back.sensitive = false;
      buttons.back.visible = buttons.next.visible = !silent_;
      break;
    case kProgressPage:
      // The copying cannot be gone back on or skipped; Cancel stays to stop it.
      buttons.back.sensitive = buttons.next.sensitive = false;
      buttons.back.visible = buttons.next.visible = !silent_;
      break;
    case kSuccessPage:
    case kErrorPage:
      // Only Finish is left: there is nothing to go back to and nothing to cancel.
      buttons.back.visible = false;
      buttons.cancel.sensitive = false;
      buttons.next_finishes = true;
      buttons.next_default = true;
      break;
    default:
      break;
  }
  return buttons;
}

WizardAction WizardFlow::OnBack() const {
  return page_ == kDirectoryPage ? WizardAction::kShowWelcomePage : WizardAction::kNone;
}

WizardAction WizardFlow::OnNext() const {
  switch (page_) {
    case kWelcomePage:
      return WizardAction::kShowDirectoryPage;
    case kDirectoryPage:
      return WizardAction::kStartInstallation;
    case kSuccessPage:
    case kErrorPage:
      return WizardAction::kFinish;
    default:
      return WizardAction::kNone;
  }
}

WizardAction WizardFlow::OnCancel() {
  if (page_ == kProgressPage) {
    stopped_by_user_ = true;
    return WizardAction::kStopWorker;
  }
  return WizardAction::kRequestClose;
}

WizardAction WizardFlow::OnEscape() {
  if (!installing_) return WizardAction::kRequestClose;
  if (pending_close_ == PendingClose::kNone) pending_close_ = PendingClose::kConfirm;
  return WizardAction::kNone;
}

bool WizardFlow::OnWindowManagerClose() {
  if (!installing_) return false;
  pending_close_ = PendingClose::kImmediate;
  return true;
}

void WizardFlow::BeginInstallation() {
  installing_ = true;
  pending_close_ = PendingClose::kNone;
  stopped_by_user_ = false;
  result_ = InstallationResult();
}

InstallationOutcome WizardFlow::Look(const ProgressReport& report, bool worker_ended) {
  result_.outcome = JudgeProgress(report.code, report.percent, worker_ended);
  if (result_.outcome == InstallationOutcome::kFailed) {
    result_.failure_text = report.message;
    result_.directory_changed = report.directory_changed;
    result_.cause = report.cause;
    result_.cancelled = report.code == static_cast<int32_t>(kErrorCancelled);
  }
  return result_.outcome;
}

void WizardFlow::EndWithoutReport(bool stopped_by_signal, bool worker_created) {
  // No report can come any more. Either the worker could not be created, or a stop
  // requested with Cancel or a signal ended the run (or its wait for the directory's lock)
  // with its rollback complete.
  result_.cancelled = (stopped_by_user_ || stopped_by_signal) && worker_created;
  result_.failure_text =
      LoadText(NarrowString(result_.cancelled ? "IDS_CANCEL_FINISH" : "IDS_INSTALL_ERROR"));
}

RunOutcome WizardFlow::FailedRunOutcome(bool stopped_before_writing) const {
  if (stopped_before_writing) return RunOutcome::kChecksFailed;
  if (result_.directory_changed) return RunOutcome::kFailedKept;
  if (result_.cancelled) return RunOutcome::kCancelled;
  return RunOutcome::kFailed;
}

RunOutcome WizardFlow::SucceededRunOutcome(uint64_t new_or_replaced) {
  return new_or_replaced == 0 ? RunOutcome::kUpToDate : RunOutcome::kInstalled;
}

WizardAction WizardFlow::TakePendingClose(bool window_shown) {
  const PendingClose request = pending_close_;
  pending_close_ = PendingClose::kNone;
  // In silent mode the run ends here anyway; the window goes with the dialog.
  if (silent_ || !window_shown) return WizardAction::kNone;
  if (request == PendingClose::kConfirm) return WizardAction::kRequestClose;
  if (request == PendingClose::kImmediate) return WizardAction::kDestroyWindow;
  return WizardAction::kNone;
}
