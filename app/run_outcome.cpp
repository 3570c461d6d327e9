#include "app/run_outcome.h"

const char* RunOutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kInstalled:
      return "installed";
    case RunOutcome::kUpToDate:
      return "up-to-date";
    case RunOutcome::kFailed:
      return "failed";
    case RunOutcome::kFailedKept:
      return "failed-kept";
    case RunOutcome::kChecksFailed:
      return "checks-failed";
    case RunOutcome::kCancelled:
      break;
  }
  return "cancelled";
}

int ExitStatusOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kInstalled:
    case RunOutcome::kUpToDate:
      return 0;
    case RunOutcome::kFailed:
      return 1;
    case RunOutcome::kFailedKept:
      return 2;
    case RunOutcome::kChecksFailed:
      return 3;
    case RunOutcome::kCancelled:
      break;
  }
  return 4;
}
