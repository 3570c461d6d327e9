// How one start of the program ended, as the log names it and as --exit-status reports it.

#ifndef APP_RUN_OUTCOME_H_
#define APP_RUN_OUTCOME_H_

enum class RunOutcome {
  kInstalled,     // 0: entries were written, and the run committed
  kUpToDate,      // 0: every entry was up to date; nothing was written
  kFailed,        // 1: the run failed and was rolled back whole
  kFailedKept,    // 2: the run failed, and its rollback could not put everything back
  kChecksFailed,  // 3: the checks before installing failed; nothing was written
  kCancelled,     // 4: cancelled by the user or by a signal
};

// The exit status of a wrong command line with --exit-status.
constexpr int kExitStatusUsage = 64;

// "installed", "up-to-date", "failed", "failed-kept", "checks-failed", "cancelled".
const char* RunOutcomeName(RunOutcome outcome);

// 0, 0, 1, 2, 3, 4 in the order above.
int ExitStatusOf(RunOutcome outcome);

#endif  // APP_RUN_OUTCOME_H_
