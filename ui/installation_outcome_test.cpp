#include "ui/installation_outcome.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallationOutcomeTest, RunningUntilAFinalReport) {
  EXPECT_EQ(JudgeProgress(0, 0, false), InstallationOutcome::kRunning);
  EXPECT_EQ(JudgeProgress(0, 99, false), InstallationOutcome::kRunning);
}

TEST(InstallationOutcomeTest, MoreThan99PercentIsSuccess) {
  EXPECT_EQ(JudgeProgress(0, 100, false), InstallationOutcome::kSucceeded);
  // A finish report is seen even when the worker has ended right after posting it.
  EXPECT_EQ(JudgeProgress(0, 100, true), InstallationOutcome::kSucceeded);
}

TEST(InstallationOutcomeTest, ANonZeroCodeIsFailureAtAnyPercentage) {
  EXPECT_EQ(JudgeProgress(2, 0, false), InstallationOutcome::kFailed);
  EXPECT_EQ(JudgeProgress(87, 100, false), InstallationOutcome::kFailed);
  EXPECT_EQ(JudgeProgress(-1, 50, true), InstallationOutcome::kFailed);
}

TEST(InstallationOutcomeTest, AWorkerGoneWithoutReportEndsTheWait) {
  // Never created, or ended without posting a final report: nothing more can come.
  EXPECT_EQ(JudgeProgress(0, 0, true), InstallationOutcome::kEndedWithoutReport);
  EXPECT_EQ(JudgeProgress(0, 99, true), InstallationOutcome::kEndedWithoutReport);
}

}  // namespace
