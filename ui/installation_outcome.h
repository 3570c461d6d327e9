// How the user-interface thread judges one look at the progress channel while an
// installation runs: the run has failed when the channel carries a non-zero result code, has
// succeeded when it carries a percentage above 99, and is still running otherwise, unless the
// worker had already ended before the look was taken (it was never created, or it returned
// without a final report): then no report can come any more and the run counts as failed.

#ifndef UI_INSTALLATION_OUTCOME_H_
#define UI_INSTALLATION_OUTCOME_H_

#include <cstdint>

enum class InstallationOutcome {
  kRunning,
  kSucceeded,
  kFailed,            // the worker reported a failure; its message goes with it
  kEndedWithoutReport,  // the worker is gone without a final report
};

// worker_ended must have been taken before the report was read, so that a final report
// posted just before the worker ended is always seen.
InstallationOutcome JudgeProgress(int32_t code, int32_t percent, bool worker_ended);

#endif  // UI_INSTALLATION_OUTCOME_H_
