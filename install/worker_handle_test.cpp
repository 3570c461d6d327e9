#include "install/worker_handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "install/install_test_access.h"
#include "install/install_test_support.h"
#include "kit/distribution_kit.h"
#include "testing/kit_builders.h"
#include "testing/language_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kKit = 1600000000;

// Waits (polling) until done() holds; false after a generous bound, so that a broken worker
// fails the test instead of hanging it.
template <typename Condition>
bool WaitUntil(Condition done) {
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Tells the worker threads of two Starts apart and sees each of them end. Every thread takes
// the number of the Start in force at its first report and keeps it, so a thread that the
// system makes with the id of an ended one is never mistaken for it; its end is marked by a
// thread-local object, which is destroyed when the thread exits (before a join returns).
// The first thread's mark lingers before it is set, so that a handle which stops that worker
// without joining it returns well before the thread has exited, and the test sees it.
struct WorkerThreads {
  std::atomic<int> start_number{0};
  std::atomic<bool> first_ended{false};
  std::atomic<int> second_reports{0};
  std::atomic<int> second_finish_reports{0};
  std::atomic<bool> first_ended_before_second_reported{false};

  class EndMark {
   public:
    // Only the worker's own thread posts the finish report; the writers it starts for new
    // files post progress from threads of their own, which end with their stretch.
    ~EndMark() {
      if (threads_ == nullptr || start_ != 1 || !finished_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      threads_->first_ended.store(true);
    }
    int Take(WorkerThreads* threads) {
      if (threads_ == nullptr) {
        threads_ = threads;
        start_ = threads->start_number.load();
      }
      return start_;
    }
    void NoteFinish() { finished_ = true; }

   private:
    bool finished_ = false;
    WorkerThreads* threads_ = nullptr;
    int start_ = 0;
  };

  static void Observe(void* context, int32_t /*code*/, const WideString& /*message*/,
                      int32_t percent) {
    WorkerThreads* threads = static_cast<WorkerThreads*>(context);
    static thread_local EndMark mark;
    if (percent == 100) mark.NoteFinish();
    if (mark.Take(threads) != 2) return;
    if (threads->second_reports.fetch_add(1) == 0) {
      threads->first_ended_before_second_reported.store(threads->first_ended.load());
    }
    if (percent == 100) threads->second_finish_reports.fetch_add(1);
  }
};

class WorkerHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    channel_.Init();
    target_ = scratch_.Child("tmplts");
    ASSERT_EQ(MakeKit(scratch_.Child("kit.efd"),
                      {{"one.txt", TimeOf(kKit), "1"},
                       {"dir\\two.txt", TimeOf(kKit), "22"},
                       {"dir/sub/three.txt", TimeOf(kKit), "333"},
                       {"four.txt", TimeOf(kKit), "4444"}},
                      &kit_),
              kSuccess);
  }

  // Declared first: destroyed after everything that might still use the files or texts.
  LanguageOverride english_{"en"};
  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  DistributionKit kit_;
  ProgressChannel channel_;
  std::string target_;
};

}  // namespace

TEST_F(WorkerHandleTest, JoinWithoutAThreadIsSafe) {
  WorkerHandle handle;
  EXPECT_TRUE(handle.HasEnded());
  EXPECT_EQ(handle.creation_result(), -1);
  handle.RequestStop();
  handle.Join();
  handle.Join();
  EXPECT_TRUE(handle.HasEnded());
}

TEST_F(WorkerHandleTest, RunsRepeatUntilAStopAndEveryRunReportsTheSameSequence) {
  PostRecorder recorder(&channel_);
  WorkerHandle handle;
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  ASSERT_EQ(handle.creation_result(), 0);
  ASSERT_TRUE(WaitUntil([&] { return InstallTestAccess::CompletedRuns(handle) >= 2; }));

  const Clock::time_point stop_requested = Clock::now();
  handle.RequestStop();
  handle.Join();
  const double join_ms = MillisecondsSince(stop_requested);
  std::printf("stop and join while further runs go on: %.1f ms\n", join_ms);
  EXPECT_TRUE(handle.HasEnded());
  EXPECT_EQ(InstallTestAccess::LastRunResult(handle), 0);

  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size() % 5, 0u);
  ASSERT_GE(reports.size(), 10u);
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].code, 0);
    EXPECT_EQ(reports[i].percent, static_cast<int32_t>(i % 5 == 4 ? 100 : (i % 5) * 25));
    EXPECT_TRUE(reports[i].message == reports[i % 5].message);
  }
  EXPECT_EQ(AsciiOf(reports[4].message), "Copying complete...");
  EXPECT_EQ(ReadWholeFile(target_ + "/dir/two.txt"), "22");
}

TEST_F(WorkerHandleTest, StopEndsThePauseAfterTheFinishReport) {
  PostRecorder recorder(&channel_);
  WorkerHandle handle;
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  ASSERT_TRUE(WaitUntil([&] { return recorder.CountWithPercent(100) >= 1; }));

  const Clock::time_point stop_requested = Clock::now();
  handle.RequestStop();
  handle.Join();
  const double stop_milliseconds = MillisecondsSince(stop_requested);
  std::printf("stop and join during the pause after the finish report: %.1f ms\n",
              stop_milliseconds);
  // The pause lasts a second; a stop that did not cut it short would wait that second out.
  // Half of it leaves room for a slow machine, emulation or a sanitizer.
  EXPECT_LT(stop_milliseconds, 500.0);
  EXPECT_TRUE(handle.HasEnded());
  EXPECT_GE(InstallTestAccess::CompletedRuns(handle), 1u);
  const ProgressReport last = channel_.Read();
  EXPECT_EQ(last.code, 0);
  EXPECT_EQ(last.percent, 100);
}

TEST_F(WorkerHandleTest, FailedRunEndsTheWorkerAndTheErrorStays) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(target_ + "/dir", "a file where a directory belongs", kKit));
  WorkerHandle handle;
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  ASSERT_TRUE(WaitUntil([&] { return handle.HasEnded(); }));
  handle.Join();
  EXPECT_EQ(InstallTestAccess::CompletedRuns(handle), 1u);
  EXPECT_EQ(InstallTestAccess::LastRunResult(handle), static_cast<int32_t>(kErrorInvalidParameter));
  const ProgressReport report = channel_.Read();
  EXPECT_EQ(report.code, static_cast<int32_t>(kErrorInvalidParameter));
  EXPECT_EQ(report.percent, 25);
  EXPECT_EQ(AsciiOf(report.message), "Installation error");
  EXPECT_FALSE(Exists(target_ + "/one.txt"));
}

TEST_F(WorkerHandleTest, StopBeforeTheFirstRunEndsWithoutRunning) {
  WorkerHandle handle;
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  handle.RequestStop();
  handle.Join();
  // The request may come before or after the first run began; never more than one run.
  EXPECT_LE(InstallTestAccess::CompletedRuns(handle), 1u);
  EXPECT_TRUE(handle.HasEnded());
}

TEST_F(WorkerHandleTest, DestroyingTheHandleStopsAndJoinsTheWorker) {
  WorkerThreads threads;
  PostRecorder recorder(&channel_, &WorkerThreads::Observe, &threads);
  {
    WorkerHandle handle;
    threads.start_number.store(1);
    channel_.Start(&kit_, WideFromAscii(target_));
    handle.Start(&channel_);
    ASSERT_TRUE(WaitUntil([&] { return recorder.CountWithPercent(100) >= 1; }));
    // The worker now pauses after its finish report and would then run again.
    ASSERT_FALSE(threads.first_ended.load());
  }
  // The worker's thread has exited (its thread-local mark is gone), so nothing posts any more.
  EXPECT_TRUE(threads.first_ended.load());
}

TEST_F(WorkerHandleTest, SecondStartStopsTheFirstWorker) {
  WorkerThreads threads;
  PostRecorder recorder(&channel_, &WorkerThreads::Observe, &threads);
  WorkerHandle handle;
  threads.start_number.store(1);
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  ASSERT_TRUE(WaitUntil([&] { return recorder.CountWithPercent(100) >= 1; }));
  // The first worker pauses after its finish report and then runs again: only Start can
  // end it here.
  ASSERT_FALSE(threads.first_ended.load());

  threads.start_number.store(2);
  channel_.Start(&kit_, WideFromAscii(target_));
  handle.Start(&channel_);
  EXPECT_TRUE(threads.first_ended.load()) << "the first worker still runs after the second Start";
  EXPECT_EQ(handle.creation_result(), 0);
  ASSERT_TRUE(WaitUntil([&] { return threads.second_finish_reports.load() >= 1; }));
  EXPECT_TRUE(threads.first_ended_before_second_reported.load());
  handle.RequestStop();
  handle.Join();
  EXPECT_TRUE(handle.HasEnded());
  EXPECT_GE(InstallTestAccess::CompletedRuns(handle), 1u);
  EXPECT_EQ(InstallTestAccess::LastRunResult(handle), 0);
  // A first worker that Start left running sees the same stop; wait for it, so that it does
  // not outlive the handle and the channel it uses.
  EXPECT_TRUE(WaitUntil([&] { return threads.first_ended.load(); }));
}
