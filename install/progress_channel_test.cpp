#include "install/progress_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "install/install_test_access.h"
#include "install/install_test_support.h"
#include "kit/distribution_kit.h"
#include "testing/text_helpers.h"

namespace {

WideString TargetAfterStart(const WideString& target) {
  ProgressChannel channel;
  channel.Init();
  channel.Start(nullptr, target);
  DistributionKit* kit = nullptr;
  WideString taken(u"unchanged");
  channel.TakeJob(&kit, &taken);
  return taken;
}

}  // namespace

TEST(ProgressChannelTest, StartEndsTheTargetWithOneSeparator) {
  EXPECT_EQ(AsciiOf(TargetAfterStart(WideString(u"/home/u/tmplts"))), "/home/u/tmplts/");
  EXPECT_EQ(AsciiOf(TargetAfterStart(WideString(u"/home/u/tmplts/"))), "/home/u/tmplts/");
  EXPECT_EQ(AsciiOf(TargetAfterStart(WideString(u"C:\\tmplts\\"))), "C:\\tmplts\\");
  EXPECT_TRUE(TargetAfterStart(WideString()).Empty());
  // A long target (heap form) gets its separator too.
  const std::string long_target(200, 'x');
  EXPECT_EQ(AsciiOf(TargetAfterStart(WideFromAscii(long_target))), long_target + "/");
}

TEST(ProgressChannelTest, InitEmptiesMessageAndTarget) {
  ProgressChannel channel;
  channel.Init();
  const ProgressReport report = channel.Read();
  EXPECT_EQ(report.code, 0);
  EXPECT_EQ(report.percent, 0);
  EXPECT_TRUE(report.message.Empty());
  DistributionKit* kit = reinterpret_cast<DistributionKit*>(&channel);
  WideString target(u"something");
  channel.TakeJob(&kit, &target);
  EXPECT_EQ(kit, nullptr);
  EXPECT_TRUE(target.Empty());
}

TEST(ProgressChannelTest, StartResetsResultButKeepsTheMessage) {
  ProgressChannel channel;
  channel.Init();
  channel.Post(0, WideString(u"Preparing to copy..."), 0);
  channel.Post(87, WideString(u"Installation error"), 50);
  InstallTestAccess::RequestCancel(&channel);
  EXPECT_TRUE(channel.IsCancelRequested());

  DistributionKit kit;
  channel.Start(&kit, WideString(u"/t"));
  const ProgressReport report = channel.Read();
  EXPECT_EQ(report.code, 0);
  EXPECT_EQ(report.percent, 0);
  EXPECT_EQ(AsciiOf(report.message), "Installation error");
  EXPECT_FALSE(channel.IsCancelRequested());
  DistributionKit* taken = nullptr;
  WideString target;
  channel.TakeJob(&taken, &target);
  EXPECT_EQ(taken, &kit);
  EXPECT_EQ(AsciiOf(target), "/t/");
}

TEST(ProgressChannelTest, ObserverSeesEveryPostInOrder) {
  ProgressChannel channel;
  channel.Init();
  PostRecorder recorder(&channel);
  channel.Post(0, WideString(u"a"), 10);
  channel.Post(2, WideString(u"b"), 20);
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].percent, 10);
  EXPECT_EQ(AsciiOf(reports[1].message), "b");
  EXPECT_EQ(reports[1].code, 2);
}

// One thread posts reports whose three fields belong together; the reader must never see
// fields of two different reports. Run under ThreadSanitizer this also checks that every
// field is only touched under the lock.
TEST(ProgressChannelTest, ReadNeverMixesTwoReports) {
  ProgressChannel channel;
  channel.Init();
  channel.Post(0, WideString(u"0"), 0);
  std::atomic<bool> done(false);
  const int kReports = 20000;
  std::thread poster([&] {
    for (int i = 1; i <= kReports; ++i) {
      // Long messages exercise the shared heap blocks across threads.
      WideString message = WideString::FormatInteger(i, 10);
      if (i % 2 == 0) message.Append(u"-a-long-tail-that-does-not-fit-inline");
      channel.Post(i, message, i % 101);
    }
    done.store(true);
  });
  int mixed = 0;
  int reads = 0;
  int last_code = 0;
  int went_back = 0;
  while (!done.load() || reads == 0) {
    const ProgressReport report = channel.Read();
    ++reads;
    std::string expected = std::to_string(report.code);
    if (report.code != 0 && report.code % 2 == 0) {
      expected += "-a-long-tail-that-does-not-fit-inline";
    }
    if (AsciiOf(report.message) != expected || report.percent != report.code % 101) ++mixed;
    if (report.code < last_code) ++went_back;
    last_code = report.code;
  }
  poster.join();
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(went_back, 0);
  const ProgressReport last = channel.Read();
  EXPECT_EQ(last.code, kReports);
  EXPECT_EQ(last.percent, kReports % 101);
}

// The worker asks while the user-interface thread requests: the flag is read as the other
// thread writes it, so that ThreadSanitizer sees an unguarded flag (a join first would
// order the two and hide it).
TEST(ProgressChannelTest, CancelRequestCrossesThreads) {
  ProgressChannel channel;
  channel.Init();
  channel.Start(nullptr, WideString(u"/t"));
  EXPECT_FALSE(channel.IsCancelRequested());
  std::thread requester([&] { InstallTestAccess::RequestCancel(&channel); });
  while (!channel.IsCancelRequested()) std::this_thread::yield();
  requester.join();
  EXPECT_TRUE(channel.IsCancelRequested());
  channel.Start(nullptr, WideString(u"/t"));
  EXPECT_FALSE(channel.IsCancelRequested()) << "Start clears the request";
}
