// The wizard's rules without a display: the buttons of each page, the page sequence, the
// close rules with the request remembered during the copying, and how a run's end is judged.

#include "ui/wizard_flow.h"

#include <gtest/gtest.h>

#include "app/string_table.h"
#include "fs/error_codes.h"

namespace {

// visible, sensitive
constexpr ButtonState kShown{true, true};
constexpr ButtonState kGreyed{true, false};
constexpr ButtonState kHidden{false, true};
constexpr ButtonState kHiddenGreyed{false, false};

ProgressReport Report(int32_t code, const char16_t* message, int32_t percent) {
  ProgressReport report;
  report.code = code;
  report.message = WideString(message);
  report.percent = percent;
  return report;
}

bool operator==(const ButtonState& a, const ButtonState& b) {
  return a.visible == b.visible && a.sensitive == b.sensitive;
}

TEST(WizardFlowTest, ButtonsOfEveryPage) {
  struct Row {
    int page;
    bool silent;
    ButtonState back, next, cancel;
    bool finishes;
  };
  const Row table[] = {
      {kWelcomePage, false, kGreyed, kShown, kShown, false},
      {kWelcomePage, true, kHiddenGreyed, kHidden, kShown, false},
      {kDirectoryPage, false, kShown, kShown, kShown, false},
      {kProgressPage, false, kGreyed, kGreyed, kShown, false},
      {kProgressPage, true, kHiddenGreyed, kHiddenGreyed, kShown, false},
      {kSuccessPage, false, kHidden, kShown, kGreyed, true},
      {kSuccessPage, true, kHidden, kShown, kGreyed, true},
      {kErrorPage, false, kHidden, kShown, kGreyed, true},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(testing::Message() << "page " << row.page << (row.silent ? " silent" : ""));
    WizardFlow flow(row.silent);
    const WizardButtons buttons = flow.EnterPage(row.page);
    EXPECT_EQ(flow.page(), row.page);
    EXPECT_TRUE(buttons.back == row.back);
    EXPECT_TRUE(buttons.next == row.next);
    EXPECT_TRUE(buttons.cancel == row.cancel);
    EXPECT_EQ(buttons.next_finishes, row.finishes);
    // Finish is the default wherever Next reads Finish.
    EXPECT_EQ(buttons.next_default, row.finishes);
  }
}

TEST(WizardFlowTest, PageSequence) {
  struct Row {
    int page;
    WizardAction back, next, cancel;
  };
  const Row table[] = {
      {kNoPage, WizardAction::kNone, WizardAction::kNone, WizardAction::kRequestClose},
      {kWelcomePage, WizardAction::kNone, WizardAction::kShowDirectoryPage,
       WizardAction::kRequestClose},
      {kDirectoryPage, WizardAction::kShowWelcomePage, WizardAction::kStartInstallation,
       WizardAction::kRequestClose},
      {kProgressPage, WizardAction::kNone, WizardAction::kNone, WizardAction::kStopWorker},
      {kSuccessPage, WizardAction::kNone, WizardAction::kFinish, WizardAction::kRequestClose},
      {kErrorPage, WizardAction::kNone, WizardAction::kFinish, WizardAction::kRequestClose},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.page);
    WizardFlow flow(false);
    flow.EnterPage(row.page);
    EXPECT_EQ(flow.OnBack(), row.back);
    EXPECT_EQ(flow.OnNext(), row.next);
    EXPECT_EQ(flow.OnCancel(), row.cancel);
  }
}

TEST(WizardFlowTest, OutsideTheCopyingEscapeAsksAndTheWindowManagerClosesAtOnce) {
  WizardFlow flow(false);
  flow.EnterPage(kSuccessPage);
  EXPECT_EQ(flow.OnEscape(), WizardAction::kRequestClose);
  EXPECT_FALSE(flow.OnWindowManagerClose());
  EXPECT_TRUE(WizardFlow::CloseNeedsConfirmation(false));
  EXPECT_FALSE(WizardFlow::CloseNeedsConfirmation(true));
}

// A close request during the copying keeps the window and is answered, once, after the run.
TEST(WizardFlowTest, ACloseRequestDuringTheCopyingWaitsForTheRun) {
  struct Row {
    const char* requests;  // E: Escape, W: the window manager's close button
    bool silent;
    bool window_shown;
    WizardAction after_run;
  };
  const Row table[] = {
      {"", false, true, WizardAction::kNone},
      {"E", false, true, WizardAction::kRequestClose},
      {"EE", false, true, WizardAction::kRequestClose},
      {"W", false, true, WizardAction::kDestroyWindow},
      {"EW", false, true, WizardAction::kDestroyWindow},
      {"WE", false, true, WizardAction::kDestroyWindow},
      {"E", true, true, WizardAction::kNone},
      {"W", false, false, WizardAction::kNone},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.requests);
    WizardFlow flow(row.silent);
    flow.EnterPage(kProgressPage);
    flow.BeginInstallation();
    EXPECT_TRUE(flow.installing());
    for (const char* request = row.requests; *request != '\0'; ++request) {
      if (*request == 'E') {
        EXPECT_EQ(flow.OnEscape(), WizardAction::kNone);
      } else {
        EXPECT_TRUE(flow.OnWindowManagerClose());
      }
    }
    flow.EndInstallation();
    EXPECT_FALSE(flow.installing());
    EXPECT_EQ(flow.TakePendingClose(row.window_shown), row.after_run);
    EXPECT_EQ(flow.TakePendingClose(row.window_shown), WizardAction::kNone);
  }
}

TEST(WizardFlowTest, LooksAreJudgedAndAFailureIsRecorded) {
  WizardFlow flow(false);
  flow.BeginInstallation();
  ProgressReport report = Report(0, u"/t/a.cfg", 40);
  EXPECT_EQ(flow.Look(report, false), InstallationOutcome::kRunning);
  report = Report(7, u"It failed", 40);
  report.directory_changed = true;
  report.cause = Status::Failure(7, NarrowString("/t/a.cfg"), NarrowString("why"));
  EXPECT_EQ(flow.Look(report, false), InstallationOutcome::kFailed);
  EXPECT_EQ(flow.result().failure_text.Compare(WideString(u"It failed")), 0);
  EXPECT_TRUE(flow.result().directory_changed);
  EXPECT_EQ(flow.result().cause.code(), 7);
  EXPECT_FALSE(flow.result().cancelled);
  report = Report(static_cast<int32_t>(kErrorCancelled), u"Cancelled", 10);
  EXPECT_EQ(flow.Look(report, false), InstallationOutcome::kFailed);
  EXPECT_TRUE(flow.result().cancelled);
}

// Gone without a report: cancelled only when a stop was asked for and the worker existed.
TEST(WizardFlowTest, ARunEndedWithoutAReport) {
  struct Row {
    bool cancel_clicked, signal, worker_created, cancelled;
  };
  const Row table[] = {
      {false, false, true, false}, {true, false, true, true},  {false, true, true, true},
      {true, true, false, false},  {false, false, false, false},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(testing::Message() << row.cancel_clicked << row.signal << row.worker_created);
    WizardFlow flow(false);
    flow.EnterPage(kProgressPage);
    flow.BeginInstallation();
    if (row.cancel_clicked) {
      EXPECT_EQ(flow.OnCancel(), WizardAction::kStopWorker);
    }
    EXPECT_EQ(flow.Look(Report(0, u"", 50), true),
              InstallationOutcome::kEndedWithoutReport);
    flow.EndWithoutReport(row.signal, row.worker_created);
    EXPECT_EQ(flow.result().cancelled, row.cancelled);
    const WideString expected =
        LoadText(NarrowString(row.cancelled ? "IDS_CANCEL_FINISH" : "IDS_INSTALL_ERROR"));
    EXPECT_EQ(flow.result().failure_text.Compare(expected), 0);
  }
}

TEST(WizardFlowTest, TheOutcomeOfARun) {
  EXPECT_EQ(WizardFlow::SucceededRunOutcome(0), RunOutcome::kUpToDate);
  EXPECT_EQ(WizardFlow::SucceededRunOutcome(3), RunOutcome::kInstalled);
  struct Row {
    bool directory_changed, cancelled, stopped_before_writing;
    RunOutcome outcome;
  };
  // A run stopped before it wrote is a failed check; a directory left changed outweighs a
  // cancel request.
  const Row table[] = {
      {false, false, false, RunOutcome::kFailed},
      {true, true, false, RunOutcome::kFailedKept},
      {false, true, false, RunOutcome::kCancelled},
      {true, true, true, RunOutcome::kChecksFailed},
  };
  for (const Row& row : table) {
    WizardFlow flow(false);
    flow.BeginInstallation();
    ProgressReport report =
        Report(row.cancelled ? static_cast<int32_t>(kErrorCancelled) : 5, u"x", 0);
    report.directory_changed = row.directory_changed;
    ASSERT_EQ(flow.Look(report, false), InstallationOutcome::kFailed);
    EXPECT_EQ(flow.FailedRunOutcome(row.stopped_before_writing), row.outcome);
  }
}

}  // namespace
