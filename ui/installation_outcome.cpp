#include "ui/installation_outcome.h"

namespace {

constexpr int32_t kLastRunningPercent = 99;

}  // namespace

InstallationOutcome JudgeProgress(int32_t code, int32_t percent, bool worker_ended) {
  if (code != 0) return InstallationOutcome::kFailed;
  if (percent > kLastRunningPercent) return InstallationOutcome::kSucceeded;
  if (worker_ended) return InstallationOutcome::kEndedWithoutReport;
  return InstallationOutcome::kRunning;
}
