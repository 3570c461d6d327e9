// WizardFlow: the wizard's state and decisions, apart from any widget. It knows which page is
// current, which button states each page has, what a button, Escape or the window manager's
// close button leads to, what becomes of a close request while the templates are copied, and
// how an installation run ended. It never acts itself: it returns what the view must do, so
// that every rule holds, and is tested, without a display.
//
// Pages and buttons by PageKind (English labels):
//   1 welcome    Back insensitive (Back and Next hidden in silent mode), "Next >", Cancel
//   2 directory  Back, Next and Cancel sensitive
//   3 progress   Back and Next insensitive (and still hidden in silent mode), Cancel
//                sensitive (it only asks the worker to stop)
//   4 success    Back hidden, Next relabelled "Finish" and the default, Cancel insensitive
//   5 error      as 4
//
// Closing while the templates are copied never destroys the window under the running
// installation loop: the request is remembered and, once the run has ended and its result
// is shown, handled as it would have been before: Escape asks for confirmation, the window
// manager's button closes at once.

#ifndef UI_WIZARD_FLOW_H_
#define UI_WIZARD_FLOW_H_

#include <cstdint>

#include "app/run_outcome.h"
#include "fs/status.h"
#include "install/progress_channel.h"
#include "text/wide_string.h"
#include "ui/installation_outcome.h"

// PageKind values.
enum : int {
  kNoPage = 0,
  kWelcomePage = 1,
  kDirectoryPage = 2,
  kProgressPage = 3,
  kSuccessPage = 4,
  kErrorPage = 5,
};

// One of the three buttons of the row.
struct ButtonState {
  bool visible = true;
  bool sensitive = true;
};

// The button row of a page: every state is given whole, so that applying it never depends
// on the page before.
struct WizardButtons {
  ButtonState back;
  ButtonState next;
  ButtonState cancel;
  // Next reads "Finish" rather than "Next >".
  bool next_finishes = false;
  // Next takes the default again (Enter presses it).
  bool next_default = false;
};

// What the view must do in answer to an event.
enum class WizardAction {
  kNone,
  kShowWelcomePage,
  kShowDirectoryPage,
  // The directory page's entry is to be checked and, when it is sound, installed into.
  kStartInstallation,
  kFinish,
  // Ask the worker to stop; the run ends by its rollback.
  kStopWorker,
  // Ask whether to close (unless nobody may be asked), then close.
  kRequestClose,
  // Close at once.
  kDestroyWindow,
};

// How one installation run ended, as the channel told it.
struct InstallationResult {
  InstallationOutcome outcome = InstallationOutcome::kRunning;
  // The worker's failure text; IDS_INSTALL_ERROR or IDS_CANCEL_FINISH when it is gone
  // without a report.
  WideString failure_text;
  // The rollback left the directory changed.
  bool directory_changed = false;
  Status cause;
  // A cancel request ended the run.
  bool cancelled = false;
};

class WizardFlow {
 public:
  explicit WizardFlow(bool silent) : silent_(silent) {}

  bool silent() const { return silent_; }
  int page() const { return page_; }

  // Makes page current and returns its buttons.
  WizardButtons EnterPage(int page);
  // The buttons of page in this mode.
  WizardButtons ButtonsOf(int page) const;

  WizardAction OnBack() const;
  WizardAction OnNext() const;
  // On the progress page Cancel only stops the worker, and the run remembers that the user
  // asked for it.
  WizardAction OnCancel();
  // Escape during the copying is remembered (the first request wins) and answered with
  // kNone; otherwise it asks to close.
  WizardAction OnEscape();
  // The window manager's close button: true when the window must stay (during the copying,
  // where the request is remembered); false lets it close without confirmation.
  bool OnWindowManagerClose();
  // A request to close asks first, except with --no-dialogs, where the request is the answer.
  static bool CloseNeedsConfirmation(bool no_dialogs) { return !no_dialogs; }

  // The installation loop: Begin before the worker starts; Look for each report taken from
  // the channel (worker_ended taken before it, see JudgeProgress); EndWithoutReport when
  // Look said kEndedWithoutReport; End once the worker has been joined.
  void BeginInstallation();
  InstallationOutcome Look(const ProgressReport& report, bool worker_ended);
  // stopped_by_signal: a stop signal arrived; worker_created: the worker could be started.
  // Only a run stopped on request, by a worker that existed, counts as cancelled.
  void EndWithoutReport(bool stopped_by_signal, bool worker_created);
  void EndInstallation() { installing_ = false; }
  bool installing() const { return installing_; }
  const InstallationResult& result() const { return result_; }

  // The program's outcome for the run just ended. stopped_before_writing: nothing was
  // written, because of a work folder the start could not finish or a target that is no
  // directory: a failed check rather than a failed installation.
  RunOutcome FailedRunOutcome(bool stopped_before_writing) const;
  static RunOutcome SucceededRunOutcome(uint64_t new_or_replaced);

  // The close request remembered during the run, now that its result is shown: forgotten
  // either way, and left alone in silent mode (the run ends there anyway) or without a
  // window.
  WizardAction TakePendingClose(bool window_shown);

 private:
  enum class PendingClose { kNone, kConfirm, kImmediate };

  bool silent_ = false;
  int page_ = kNoPage;
  // The installation loop is running: a close request waits for it to end.
  bool installing_ = false;
  PendingClose pending_close_ = PendingClose::kNone;
  // Cancel asked the worker to stop during the current installation.
  bool stopped_by_user_ = false;
  InstallationResult result_;
};

#endif  // UI_WIZARD_FLOW_H_
