#include "install/install_job.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "install/install_test_access.h"
#include "install/install_test_support.h"
#include "install/stop_signal.h"
#include "install/write_forecast.h"
#include "kit/distribution_kit.h"
#include "kit/entry_path.h"
#include "kit/kit_test_access.h"
#include "testing/kit_builders.h"
#include "testing/language_override.h"
#include "testing/locale_override.h"
#include "testing/other_file_system.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "testing/tree_snapshot.h"

namespace {

constexpr int64_t kOld = 1500000000;    // before the kit
constexpr int64_t kKit = 1600000000;    // the kit's entries
constexpr int64_t kNewer = 1700000000;  // after the kit

class InstallJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    channel_.Init();
    // Requested before the run: the pause after the finish report returns at once.
    no_pause_.Request();
    target_ = scratch_.Child("tmplts");
  }

  std::string Target(const std::string& name) const { return target_ + "/" + name; }

  // Opens a kit of files (a new kit file every call).
  void OpenKit(const std::vector<KitFile>& files) {
    kit_.reset(new DistributionKit);
    const std::string path = scratch_.Child("kit" + std::to_string(++kit_number_) + ".efd");
    ASSERT_EQ(MakeKit(path, files, kit_.get()), kSuccess);
  }

  int32_t RunJob() { return RunJobInto(target_); }
  int32_t RunJobInto(const std::string& target) {
    channel_.Start(kit_.get(), WideFromAscii(target));
    InstallJob job(&no_pause_);
    return job.Run(&channel_);
  }

  // Whether the run left its work folder in the template directory.
  bool WorkFolderLeft() const { return Exists(Target(".t5stp")); }
  // Whether anything at all was left in the temporary directory.
  bool TempDirectoryUsed() const { return !std::filesystem::is_empty(scratch_.TempDirectory()); }

  // The reports carry the English texts.
  LanguageOverride english_{"en"};
  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  ProgressChannel channel_;
  StopSignal no_pause_;
  std::unique_ptr<DistributionKit> kit_;
  std::string target_;
  int kit_number_ = 0;
};

// A kit name as the path it stands for: every "\\" read as "/".
std::string Slashed(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::vector<KitFile> FourFiles() {
  return {{"one.txt", TimeOf(kKit), "1"},
          {"dir\\two.txt", TimeOf(kKit), "22"},
          {"dir/sub/three.txt", TimeOf(kKit), "333"},
          {"four.txt", TimeOf(kKit), "4444"}};
}

}  // namespace

TEST_F(InstallJobTest, FourEntriesReportEveryPathThenTheFinish) {
  ASSERT_TRUE(MakeDirectories(target_));
  OpenKit(FourFiles());
  PostRecorder recorder(&channel_);
  EXPECT_EQ(RunJob(), 0);

  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 5u);
  const char* const paths[] = {"one.txt", "dir/two.txt", "dir/sub/three.txt", "four.txt"};
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(reports[j].code, 0);
    EXPECT_EQ(reports[j].percent, j * 25);
    EXPECT_EQ(AsciiOf(reports[j].message), Target(paths[j]));
  }
  EXPECT_EQ(reports[4].code, 0);
  EXPECT_EQ(reports[4].percent, 100);
  EXPECT_EQ(AsciiOf(reports[4].message), "Copying complete...");

  EXPECT_EQ(ReadWholeFile(Target("dir/sub/three.txt")), "333");
  EXPECT_EQ(ModificationSeconds(Target("four.txt")), kKit);
  EXPECT_FALSE(WorkFolderLeft());
  EXPECT_FALSE(TempDirectoryUsed());
}

TEST_F(InstallJobTest, OneEntryReportsZeroThenHundred) {
  OpenKit({{"only.txt", TimeOf(kKit), "x"}});
  PostRecorder recorder(&channel_);
  EXPECT_EQ(RunJob(), 0);
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].percent, 0);
  EXPECT_EQ(reports[1].percent, 100);
  // The target did not exist: the run made it.
  EXPECT_EQ(ReadWholeFile(Target("only.txt")), "x");
}

TEST_F(InstallJobTest, EmptyKitPostsOnlyTheFinish) {
  OpenKit({});
  PostRecorder recorder(&channel_);
  EXPECT_EQ(RunJob(), 0);
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, 0);
  EXPECT_EQ(reports[0].percent, 100);
  EXPECT_EQ(AsciiOf(reports[0].message), "Copying complete...");
  // The run made the template directory; an empty kit leaves it, empty.
  EXPECT_TRUE(std::filesystem::is_empty(target_));
}

TEST_F(InstallJobTest, UpToDateRules) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("newer.txt"), "mine", kKit + 100));
  ASSERT_TRUE(WriteFileAt(Target("same.txt"), "same before", kKit));
  ASSERT_TRUE(WriteFileAt(Target("older.txt"), "old", kKit - 100));
  OpenKit({{"newer.txt", TimeOf(kKit), "kit newer"},
           {"same.txt", TimeOf(kKit), "kit same"},
           {"older.txt", TimeOf(kKit), "kit older"},
           {"fraction.txt", TimeOf(kKit, 500000000), "kit fraction"}});

  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(ReadWholeFile(Target("newer.txt")), "mine");
  EXPECT_EQ(ModificationSeconds(Target("newer.txt")), kKit + 100);
  EXPECT_EQ(ReadWholeFile(Target("same.txt")), "same before");
  EXPECT_EQ(ReadWholeFile(Target("older.txt")), "kit older");
  EXPECT_EQ(ModificationSeconds(Target("older.txt")), kKit);
  EXPECT_EQ(ReadWholeFile(Target("fraction.txt")), "kit fraction");
  EXPECT_EQ(ModificationSeconds(Target("fraction.txt")), kKit);

  // Marks that only a rewrite can remove, with the times the first run left.
  ASSERT_TRUE(WriteFileAt(Target("older.txt"), "scribbled", kKit));
  ASSERT_TRUE(WriteFileAt(Target("fraction.txt"), "scribbled", kKit));
  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(ReadWholeFile(Target("older.txt")), "scribbled");
  EXPECT_EQ(ReadWholeFile(Target("fraction.txt")), "kit fraction");
  EXPECT_FALSE(WorkFolderLeft());
}

// An up-to-date run changes nothing at all: no work folder comes and goes, so not even the
// template directory's time moves.
TEST_F(InstallJobTest, UpToDateRunLeavesTheTreeUntouched) {
  OpenKit(FourFiles());
  ASSERT_EQ(RunJob(), 0);
  ASSERT_TRUE(SetModificationTime(target_, kOld, 5));
  ASSERT_TRUE(SetModificationTime(Target("dir"), kOld, 6));
  const TreeState before = SnapshotTree(target_);
  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}

TEST_F(InstallJobTest, TheForecastSaysWhetherARunWouldWriteAnything) {
  OpenKit(FourFiles());
  std::vector<KitEntry> entries;
  for (std::size_t j = 0; j < kit_->EntryCount(); ++j) entries.push_back(kit_->Entry(j));
  const TargetDirectory target(WideFromAscii(target_));
  EXPECT_TRUE(SomeEntryNeedsWriting(target, entries));
  ASSERT_EQ(RunJob(), 0);
  EXPECT_FALSE(SomeEntryNeedsWriting(target, entries));
  // One file older than its entry; then a work folder, which a rollback would change.
  ASSERT_TRUE(SetModificationTime(Target("dir/sub/three.txt"), kOld, 0));
  EXPECT_TRUE(SomeEntryNeedsWriting(target, entries));
  ASSERT_TRUE(SetModificationTime(Target("dir/sub/three.txt"), kKit, 0));
  ASSERT_TRUE(MakeDirectories(Target(".t5stp")));
  EXPECT_TRUE(SomeEntryNeedsWriting(target, entries));
  ASSERT_EQ(rmdir(Target(".t5stp").c_str()), 0);
  // Through a link, as the run never goes: a link at the directory's name, and one on the way.
  const std::string linked = scratch_.Child("linked");
  ASSERT_EQ(symlink(target_.c_str(), linked.c_str()), 0);
  EXPECT_TRUE(SomeEntryNeedsWriting(TargetDirectory(WideFromAscii(linked)), entries));
  ASSERT_EQ(rename(Target("dir").c_str(), scratch_.Child("dir").c_str()), 0);
  ASSERT_EQ(symlink(scratch_.Child("dir").c_str(), Target("dir").c_str()), 0);
  EXPECT_TRUE(SomeEntryNeedsWriting(target, entries));
  EXPECT_TRUE(SomeEntryNeedsWriting(TargetDirectory(), entries));
}

TEST_F(InstallJobTest, AForecastOfNothingToWriteThatTurnsOutWrongStillInstallsEveryFile) {
  // With one file there and up to date (the others written one by one), and with no
  // template directory at all (all written by the two writers).
  for (const bool directory_there : {true, false}) {
    SCOPED_TRACE(directory_there ? "directory there" : "no directory");
    std::filesystem::remove_all(target_);
    OpenKit(FourFiles());
    const std::string path = scratch_.Child("kit" + std::to_string(kit_number_) + ".efd");
    kit_.reset(new DistributionKit);
    ASSERT_EQ(kit_->Open(WideFromUtf8(path), nullptr,
                         [](const std::vector<KitEntry>&) { return false; }),
              kSuccess);
    ASSERT_FALSE(kit_->DataStored());
    if (directory_there) {
      ASSERT_TRUE(MakeDirectories(target_));
      ASSERT_TRUE(WriteWholeFile(Target("one.txt"), Bytes{'1'}));
      ASSERT_TRUE(SetModificationTime(Target("one.txt"), kNewer, 0));
    }
    EXPECT_EQ(RunJob(), 0);
    EXPECT_TRUE(kit_->DataStored());
    EXPECT_EQ(ReadWholeFile(Target("one.txt")), "1");
    EXPECT_EQ(ReadWholeFile(Target("dir/two.txt")), "22");
    EXPECT_EQ(ReadWholeFile(Target("dir/sub/three.txt")), "333");
    EXPECT_EQ(ReadWholeFile(Target("four.txt")), "4444");
    EXPECT_EQ(ModificationSeconds(Target("four.txt")), kKit);
    EXPECT_EQ(ModificationSeconds(Target("one.txt")), directory_there ? kNewer : kKit);
  }
}

TEST_F(InstallJobTest, ExamineDestinationComparesWholeSecondsAgainstTheEntryTime) {
  using Destination = InstallJob::Destination;
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("f"), "x", kKit));
  const NarrowString path(Target("f").c_str());
  EXPECT_EQ(Destination::kUpToDate, InstallJob::ExamineDestination(path, TimeOf(kKit)));
  EXPECT_EQ(Destination::kUpToDate, InstallJob::ExamineDestination(path, TimeOf(kKit - 1)));
  EXPECT_EQ(Destination::kOutOfDate, InstallJob::ExamineDestination(path, TimeOf(kKit, 100)));
  EXPECT_EQ(Destination::kOutOfDate, InstallJob::ExamineDestination(path, TimeOf(kKit + 1)));
  // Times whose high halves differ: the high half decides.
  const FileTime far = FileTimeFromValue(FileTimeValue(TimeOf(kKit)) + (uint64_t{1} << 32));
  EXPECT_EQ(Destination::kOutOfDate, InstallJob::ExamineDestination(path, far));
  // A directory is no installed file, however new; a link to one is replaced like a file.
  ASSERT_TRUE(MakeDirectories(Target("dir")));
  ASSERT_EQ(symlink("dir", Target("to-dir").c_str()), 0);
  EXPECT_EQ(Destination::kDirectory,
            InstallJob::ExamineDestination(NarrowOf(Target("dir")), TimeOf(0)));
  EXPECT_EQ(Destination::kOutOfDate,
            InstallJob::ExamineDestination(NarrowOf(Target("to-dir")), TimeOf(0)));
}

// kAbsent lets the run skip looking for something to back up, so it must mean that not
// even a link is there; links are still examined through to the file they name.
TEST_F(InstallJobTest, ExamineDestinationCallsOnlyANameWithNothingBehindItAbsent) {
  using Destination = InstallJob::Destination;
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("f"), "x", kKit));
  ASSERT_EQ(symlink("f", Target("to-file").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", Target("dangling").c_str()), 0);
  ASSERT_TRUE(WriteFileAt(Target("plain"), "x", kKit));
  const auto examine = [&](const char* name, int64_t entry_seconds) {
    return InstallJob::ExamineDestination(NarrowOf(Target(name)),
                                          TimeOf(entry_seconds));
  };
  EXPECT_EQ(Destination::kAbsent, examine("missing", kKit));
  EXPECT_EQ(Destination::kAbsent, examine("no-dir/missing", kKit));
  EXPECT_EQ(Destination::kOutOfDate, examine("dangling", kKit));
  EXPECT_EQ(Destination::kUpToDate, examine("to-file", kKit));
  EXPECT_EQ(Destination::kOutOfDate, examine("to-file", kKit + 1));
  EXPECT_EQ(Destination::kOutOfDate, examine("plain/below", kKit));  // a file as directory
}

// A named pipe where the kit has a file neither holds the run (an open for reading would
// wait for a writer) nor counts as an installed file, however new its time.
TEST_F(InstallJobTest, ANamedPipeAtADestinationIsReplacedWithoutWaiting) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_EQ(mkfifo(Target("one.txt").c_str(), 0600), 0);
  ASSERT_TRUE(SetModificationTime(Target("one.txt"), kNewer));
  OpenKit(FourFiles());

  std::future<int32_t> run = std::async(std::launch::async, [this] { return RunJob(); });
  if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // Let a run stuck in the open go, so that the test ends.
    const int writer = open(Target("one.txt").c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    ADD_FAILURE() << "the run waited on the named pipe";
  }
  EXPECT_EQ(run.get(), 0);
  struct stat status;
  ASSERT_EQ(lstat(Target("one.txt").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(ReadWholeFile(Target("one.txt")), "1");
  EXPECT_FALSE(WorkFolderLeft());
}

// Sixty new files in folders the run makes: written by two threads.
std::vector<KitFile> ManyNewFiles() {
  std::vector<KitFile> files;
  for (int j = 0; j < 60; ++j) {
    const std::string folder = j < 20 ? "" : j < 40 ? "one/" : "one/two\\";
    files.push_back({folder + "f" + std::to_string(j) + ".txt", TimeOf(kKit),
                     std::string(1000 + 97 * j, static_cast<char>('A' + j % 26))});
  }
  return files;
}

TEST_F(InstallJobTest, TwoWritersReportInTableOrder) {
  const std::vector<KitFile> files = ManyNewFiles();
  OpenKit(files);
  PostRecorder recorder(&channel_);
  ASSERT_EQ(RunJob(), 0);
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), files.size() + 1);
  for (std::size_t j = 0; j < files.size(); ++j) {
    EXPECT_EQ(reports[j].percent, InstallJob::Percentage(j, files.size()));
    EXPECT_EQ(AsciiOf(reports[j].message),
              target_ + "/" + Slashed(files[j].name));
  }
  for (const KitFile& file : files) {
    const std::string name = Slashed(file.name);
    EXPECT_EQ(ReadWholeFile(Target(name)), file.bytes) << name;
  }
}

TEST_F(InstallJobTest, AFailureInEitherWriterRollsBackWhatBothWrote) {
  const std::vector<KitFile> files = ManyNewFiles();
  // The container ends inside entry k: the last entry alone fails, or k and all after it.
  for (std::size_t k : {std::size_t{30}, files.size() - 1}) {
    OpenKit(files);
    const KitEntry& entry = kit_->Entry(k);
    const int container = static_cast<int>(KitTestAccess::ContainerHandle(*kit_));
    ASSERT_EQ(ftruncate(container, entry.offset + entry.size / 2), 0);
    PostRecorder recorder(&channel_);
    EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidData));
    const std::vector<ProgressReport> reports = recorder.Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().percent, InstallJob::Percentage(k, files.size())) << k;
    EXPECT_FALSE(Exists(target_)) << "failing entry " << k;
    EXPECT_FALSE(TempDirectoryUsed()) << "failing entry " << k;
  }
}

TEST_F(InstallJobTest, DestinationRules) {
  EntryPath path;
  ASSERT_EQ(EntryPath::FromName(WideFromAscii("a\\b\\c.txt"), &path), nullptr);
  EXPECT_EQ(AsciiOf(InstallJob::DestinationPath(TargetDirectory(WideFromAscii("/t")), path)),
            "/t/a/b/c.txt");
  EXPECT_EQ(InstallJob::Percentage(2, 4), 50);
  EXPECT_EQ(InstallJob::Percentage(2, 3), 66);
  // No overflow with j * 100 beyond 32 bits.
  EXPECT_EQ(InstallJob::Percentage(uint64_t{3} << 31, uint64_t{1} << 33), 75);
}

TEST_F(InstallJobTest, ChannelWithoutKitFails) {
  PostRecorder recorder(&channel_);
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, static_cast<int32_t>(kErrorInvalidParameter));
  EXPECT_EQ(AsciiOf(reports[0].message), "Installation error");
}

// A template directory with files the kit replaces, a file it keeps, a file it does not
// know, a dangling link where the kit has a file, and room for new files and new nested
// directories.
class InstallFailureTest : public InstallJobTest {
 protected:
  void SetUp() override {
    InstallJobTest::SetUp();
    ASSERT_TRUE(MakeDirectories(Target("sub")));
    ASSERT_TRUE(WriteFileAt(Target("a.txt"), "old a", kOld));
    ASSERT_TRUE(WriteFileAt(Target("keep.txt"), "not in the kit", kOld));
    ASSERT_TRUE(WriteFileAt(Target("sub/b.txt"), "old b", kOld, 123456789));
    ASSERT_TRUE(WriteFileAt(Target("sub/newer.txt"), "user's newer", kNewer));
    ASSERT_EQ(symlink("nowhere", Target("sub/dangling.txt").c_str()), 0);
    ASSERT_TRUE(SetModificationTime(Target("sub/dangling.txt"), kOld + 5));
    ASSERT_TRUE(SetModificationTime(Target("sub"), kOld + 7, 777));
    ASSERT_TRUE(SetModificationTime(target_, kOld + 9, 999));
  }

  static std::vector<KitFile> Files() {
    const char* const names[] = {"a.txt",           "sub\\b.txt",      "c.txt",
                                 "new1/new2/d.txt", "new1/new2/e.txt", "sub/newer.txt",
                                 "sub/deep/f.txt",  "sub/dangling.txt"};
    std::vector<KitFile> files;
    for (int j = 0; j < 8; ++j) {
      files.push_back({names[j], TimeOf(kKit), std::string(3000, static_cast<char>('a' + j))});
    }
    return files;
  }

  // Runs and checks that the run failed at entry failing with code, and that afterwards the
  // tree is exactly as before and no backup directory is left.
  void ExpectFailedRunLeavesTreeAsItWas(std::size_t failing, ErrorCode code,
                                        ProgressObserver probe = nullptr,
                                        void* probe_context = nullptr) {
    const TreeState before = SnapshotTree(target_);
    ASSERT_GE(before.size(), 7u);
    PostRecorder recorder(&channel_, probe, probe_context);
    EXPECT_EQ(RunJob(), static_cast<int32_t>(code)) << "failing entry " << failing;
    const std::vector<ProgressReport> reports = recorder.Reports();
    ASSERT_EQ(reports.size(), failing + 2);
    EXPECT_EQ(reports.back().code, static_cast<int32_t>(code));
    EXPECT_EQ(reports.back().percent, static_cast<int32_t>(failing * 100 / 8));
    EXPECT_EQ(AsciiOf(reports.back().message), "Installation error");
    EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "")
        << "failing entry " << failing;
    EXPECT_FALSE(channel_.Read().directory_changed);
    EXPECT_FALSE(TempDirectoryUsed()) << "failing entry " << failing;
  }
};

TEST_F(InstallFailureTest, ExtractionFailingAtEachEntryLeavesTheTreeAsItWas) {
  const std::vector<KitFile> files = Files();
  for (std::size_t k = 0; k < files.size(); ++k) {
    OpenKit(files);
    // The container ends in the middle of entry k: k and every later entry fail to copy.
    const KitEntry& entry = kit_->Entry(k);
    const int container = static_cast<int>(KitTestAccess::ContainerHandle(*kit_));
    ASSERT_EQ(ftruncate(container, entry.offset + entry.size / 2), 0);
    // Entry 5 is up to date (the file on disk is newer), so the next one is the first copy.
    ExpectFailedRunLeavesTreeAsItWas(k == 5 ? 6 : k, kErrorInvalidData);
  }
}

TEST_F(InstallFailureTest, DirectoryThatCannotBeMadeFailsAndRollsBack) {
  // A regular file where the entry needs a new directory: above a missing level, making
  // the directory fails; as the entry's own directory, opening the file fails.
  struct Case {
    const char* blocker;
    std::size_t failing;
    ErrorCode code;
  };
  for (const Case& blocked :
       {Case{"new1", 3, kErrorNotFound}, Case{"sub/deep", 6, kErrorInvalidParameter}}) {
    ASSERT_TRUE(WriteFileAt(Target(blocked.blocker), "in the way", kOld));
    ASSERT_TRUE(SetModificationTime(Target("sub"), kOld + 7, 777));
    ASSERT_TRUE(SetModificationTime(target_, kOld + 9, 999));
    OpenKit(Files());
    ExpectFailedRunLeavesTreeAsItWas(blocked.failing, blocked.code);
    ASSERT_EQ(unlink(Target(blocked.blocker).c_str()), 0);
  }
}

TEST_F(InstallFailureTest, DirectoryWhereTheKitHasAFileIsNeverReplaced) {
  for (std::size_t failing : {0u, 2u, 7u}) {
    const std::string name = Slashed(Files()[failing].name);
    const std::string path = Target(name);
    const std::string saved = scratch_.Child("saved");
    if (Exists(path)) {
      ASSERT_EQ(rename(path.c_str(), saved.c_str()), 0);
    }
    // Newer than the entry: it must still not count as the installed file.
    ASSERT_TRUE(MakeDirectories(path));
    ASSERT_TRUE(WriteFileAt(path + "/inside", "user data", kOld));
    ASSERT_TRUE(SetModificationTime(path, kNewer));
    ASSERT_TRUE(SetModificationTime(Target("sub"), kOld + 7, 777));
    ASSERT_TRUE(SetModificationTime(target_, kOld + 9, 999));
    OpenKit(Files());
    ExpectFailedRunLeavesTreeAsItWas(failing, kErrorInvalidParameter);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    if (Exists(saved)) {
      ASSERT_EQ(rename(saved.c_str(), path.c_str()), 0);
    }
  }
}

TEST_F(InstallFailureTest, SuccessfulRunReplacesAndKeeps) {
  OpenKit(Files());
  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(ReadWholeFile(Target("a.txt")), std::string(3000, 'a'));
  EXPECT_EQ(ReadWholeFile(Target("sub/b.txt")), std::string(3000, 'b'));
  EXPECT_EQ(ReadWholeFile(Target("sub/newer.txt")), "user's newer");
  EXPECT_EQ(ReadWholeFile(Target("keep.txt")), "not in the kit");
  EXPECT_EQ(ReadWholeFile(Target("sub/dangling.txt")), std::string(3000, 'h'));
  EXPECT_EQ(ModificationSeconds(Target("new1/new2/e.txt")), kKit);
  EXPECT_FALSE(WorkFolderLeft());
}

TEST_F(InstallFailureTest, CancelAfterTheFirstWrittenFileRollsBackSilently) {
  OpenKit(Files());
  const TreeState before = SnapshotTree(target_);
  channel_.Start(kit_.get(), WideFromAscii(target_));
  InstallTestAccess::RequestCancel(&channel_);
  PostRecorder recorder(&channel_);
  InstallJob job(&no_pause_);
  EXPECT_EQ(job.Run(&channel_), static_cast<int32_t>(kErrorCancelled));
  const std::vector<ProgressReport> reports = recorder.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, 0);
  EXPECT_EQ(AsciiOf(reports[0].message), Target("a.txt"));
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}

TEST_F(InstallJobTest, FailedFreshInstallRemovesEveryDirectoryItMade) {
  const std::string home = scratch_.Child("home");
  ASSERT_TRUE(MakeDirectories(home));
  ASSERT_TRUE(SetModificationTime(home, kOld, 42));
  OpenKit({{"x/y/one.txt", TimeOf(kKit), "one"},
           {"two.txt", TimeOf(kKit), "two"},
           {"x/three.txt", TimeOf(kKit), std::string(100, '3')}});
  const KitEntry& last = kit_->Entry(2);
  const int container = static_cast<int>(KitTestAccess::ContainerHandle(*kit_));
  ASSERT_EQ(ftruncate(container, last.offset + 10), 0);
  const TreeState before = SnapshotTree(home);
  EXPECT_EQ(RunJobInto(home + "/a/b/tmplts"), static_cast<int32_t>(kErrorInvalidData));
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(home)), "");
}

TEST_F(InstallJobTest, ReplacedFilesWaitInTheWorkFolderAsTheVeryFilesAndNoShellRuns) {
  ASSERT_TRUE(MakeDirectories(target_));
  const std::vector<std::string> names = {"f1", "d1/f2", "d2/e/f3"};
  std::vector<KitFile> files;
  for (const std::string& name : names) files.push_back({name, TimeOf(kKit), "new " + name});
  // A repeated name puts the files before it in place first.
  files.push_back({"f1", TimeOf(kKit), "new f1"});
  files.push_back({"last", TimeOf(kKit), "last"});
  OpenKit(files);
  ShellCommandLog log(scratch_.Child("shell"));
  ASSERT_EQ(RunJob(), 0);
  ASSERT_EQ(RunJob(), 0);

  std::vector<ino_t> old_inodes;
  for (const std::string& name : names) {
    ASSERT_TRUE(WriteFileAt(Target(name), "old " + name, kOld));
    struct stat64 status;
    ASSERT_EQ(lstat64(Target(name).c_str(), &status), 0);
    old_inodes.push_back(status.st_ino);
  }
  // While the last entry is reported, the originals of the files put in place before it
  // wait in the backup folder.
  struct BackupProbe {
    std::string folder;
    std::vector<std::string> names;
    std::vector<ino_t> inodes;
    unsigned mode = 0;
    static void Observe(void* context, int32_t, const WideString&, int32_t percent) {
      BackupProbe* probe = static_cast<BackupProbe*>(context);
      if (percent != 80) return;
      struct stat64 status;
      if (lstat64(probe->folder.c_str(), &status) == 0) probe->mode = status.st_mode & 07777;
      for (const std::string& name : probe->names) {
        const bool held = lstat64((probe->folder + "/backup/" + name).c_str(), &status) == 0;
        probe->inodes.push_back(held ? status.st_ino : 0);
      }
    }
  } probe{Target(".t5stp"), names, {}};
  {
    PostRecorder recorder(&channel_, &BackupProbe::Observe, &probe);
    EXPECT_EQ(RunJob(), 0);
  }
  EXPECT_EQ(probe.inodes, old_inodes);  // moved, not copied
  EXPECT_EQ(probe.mode, 0700u);
  for (const std::string& name : names) EXPECT_EQ(ReadWholeFile(Target(name)), "new " + name);
  EXPECT_FALSE(WorkFolderLeft());
  EXPECT_FALSE(TempDirectoryUsed());
  // Fresh, up to date and replacing: directories, moves and removals are system calls.
  EXPECT_EQ(log.Lines(), std::vector<std::string>{});
}

TEST_F(InstallJobTest, EntryInTheWorkFolderIsRefusedBeforeAnythingIsWritten) {
  ASSERT_TRUE(MakeDirectories(target_));
  for (const char* name : {".t5stp\\journal", "./.t5stp/backup/x", ".t5stp"}) {
    OpenKit({{"fine.txt", TimeOf(kKit), "fine"}, {name, TimeOf(kKit), "into the work folder"}});
    const TreeState before = SnapshotTree(target_);
    PostRecorder recorder(&channel_);
    EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter)) << name;
    ASSERT_EQ(recorder.Reports().size(), 1u);
    EXPECT_EQ(recorder.Reports()[0].percent, 0);
    EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "") << name;
  }
}

// The locale may change between the kit's opening and the run: a name the run's locale
// cannot encode fails the run before anything is written, as one in the work folder does.
TEST_F(InstallJobTest, EntryTheRunsLocaleCannotEncodeIsRefusedBeforeAnythingIsWritten) {
  ASSERT_TRUE(MakeDirectories(target_));
  LocaleOverride locale("C.UTF-8");
  OpenKit({{"fine.txt", TimeOf(kKit), "fine"}, {"\xd0\xa8.txt", TimeOf(kKit), "cyrillic"}});
  locale.Set("de_DE.ISO-8859-1");
  const TreeState before = SnapshotTree(target_);
  PostRecorder recorder(&channel_);
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  ASSERT_EQ(recorder.Reports().size(), 1u);
  EXPECT_EQ(recorder.Reports()[0].percent, 0);
  const Status cause = channel_.Read().cause;
  EXPECT_NE(cause.detail().Find("cannot be encoded"), NarrowString::npos)
      << cause.ToString().CStr();
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}

TEST_F(InstallJobTest, SomethingElseNamedLikeTheWorkFolderIsLeftAloneAndStopsTheRun) {
  ASSERT_TRUE(MakeDirectories(target_));
  const std::string elsewhere = scratch_.Child("elsewhere");
  ASSERT_TRUE(MakeDirectories(elsewhere + "/backup"));
  ASSERT_TRUE(WriteFileAt(elsewhere + "/backup/a.txt", "precious", kOld));
  ASSERT_EQ(symlink(elsewhere.c_str(), Target(".t5stp").c_str()), 0);
  ASSERT_TRUE(WriteFileAt(Target("a.txt"), "old a", kOld));
  OpenKit({{"a.txt", TimeOf(kKit), "new a"}});
  const TreeState target_before = SnapshotTree(target_);
  const TreeState elsewhere_before = SnapshotTree(elsewhere);
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  const ProgressReport report = channel_.Read();
  EXPECT_TRUE(report.directory_changed);
  EXPECT_NE(AsciiOf(report.message).find(Target(".t5stp")), std::string::npos);
  EXPECT_EQ(DescribeDifferences(target_before, SnapshotTree(target_)), "");
  EXPECT_EQ(DescribeDifferences(elsewhere_before, SnapshotTree(elsewhere)), "");
}

TEST_F(InstallJobTest, BackupFolderThatCannotBeMadeFailsTheRun) {
  ASSERT_TRUE(MakeDirectories(Target("sub")));
  ASSERT_TRUE(WriteFileAt(Target("sub/old.txt"), "old", kOld));
  ASSERT_TRUE(SetModificationTime(Target("sub"), kOld));
  ASSERT_TRUE(SetModificationTime(target_, kOld));
  OpenKit({{"new.txt", TimeOf(kKit), "new"}, {"sub/old.txt", TimeOf(kKit), "replacement"}});
  // When the run reaches the file it replaces, a file stands where the backup folder goes.
  struct Blocker {
    std::string trigger, backup;
    static void Observe(void* context, int32_t code, const WideString& message, int32_t) {
      Blocker* blocker = static_cast<Blocker*>(context);
      if (code == 0 && AsciiOf(message) == blocker->trigger) {
        EXPECT_TRUE(WriteWholeFile(blocker->backup, "in the way"));
      }
    }
  } blocker{Target("sub/old.txt"), Target(".t5stp/backup")};
  const TreeState before = SnapshotTree(target_);
  PostRecorder recorder(&channel_, &Blocker::Observe, &blocker);
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorNotFound));
  EXPECT_EQ(recorder.Reports().back().percent, 50);
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}

TEST_F(InstallJobTest, MoveIntoTheBackupThatFailsFailsTheRun) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("old.txt"), "old", kOld));
  OpenKit({{"new/n.txt", TimeOf(kKit), "new"}, {"old.txt", TimeOf(kKit), "replacement"}});
  // A file nothing may move.
  ImmutableGuard guard(Target("old.txt"));
  if (!SetImmutable(Target("old.txt"), true)) GTEST_SKIP() << "no immutable attribute here";
  const TreeState before = SnapshotTree(target_);
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}

TEST_F(InstallJobTest, OriginalThatCannotBeMovedBackIsKeptShownAndRestoredByTheNextRun) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("old.txt"), "the only copy", kOld));
  ASSERT_TRUE(WriteFileAt(Target("blocked"), "in the way", kOld));
  // The name given twice puts the first replacement in place, its original in the backup;
  // once the entry that fails is reached, the template directory takes no changes, so the
  // original cannot come back out of the backup.
  OpenKit({{"old.txt", TimeOf(kKit), "replacement"},
           {"old.txt", TimeOf(kKit + 10), "replacement 2"},
           {"blocked/x.txt", TimeOf(kKit), "x"}});
  struct RefusingTarget {
    std::string target, trigger;
    bool refused = false;
    static void Observe(void* context, int32_t code, const WideString& message, int32_t) {
      RefusingTarget* probe = static_cast<RefusingTarget*>(context);
      if (code == 0 && AsciiOf(message) == probe->trigger) {
        probe->refused = SetImmutable(probe->target, true);
      }
    }
  } probe{target_, Target("blocked/x.txt")};
  ImmutableGuard guard(target_);
  {
    PostRecorder recorder(&channel_, &RefusingTarget::Observe, &probe);
    EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  }
  if (!probe.refused) GTEST_SKIP() << "no immutable attribute here";
  const ProgressReport report = channel_.Read();
  EXPECT_TRUE(report.directory_changed);
  EXPECT_NE(AsciiOf(report.message).find(Target(".t5stp")), std::string::npos);
  EXPECT_EQ(ReadWholeFile(Target(".t5stp/backup/old.txt")), "the only copy");

  // The next run puts the original back before it installs anything.
  ASSERT_TRUE(SetImmutable(target_, false));
  ASSERT_EQ(unlink(Target("blocked").c_str()), 0);
  OpenKit({{"other.txt", TimeOf(kKit), "other"}});
  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(ReadWholeFile(Target("old.txt")), "the only copy");
  EXPECT_EQ(ModificationSeconds(Target("old.txt")), kOld);
  EXPECT_FALSE(WorkFolderLeft());
}

// A folder of the template directory on a file system of its own (a bind mount of another
// file system's folder): its files cannot be renamed into the backup folder and are copied
// there instead.
class OtherFileSystemTest : public InstallJobTest {
 protected:
  void SetUp() override {
    InstallJobTest::SetUp();
    other_.reset(new OtherFileSystemDirectory(scratch_.Child(".")));
    if (!other_->Found()) GTEST_SKIP() << "no second file system here";
    ASSERT_TRUE(MakeDirectories(Target("mount")));
    if (mount(other_->Path().c_str(), Target("mount").c_str(), nullptr, MS_BIND, nullptr) != 0) {
      GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    mounted_ = true;
    ASSERT_TRUE(WriteFileAt(Target("a.txt"), "old a", kOld, 5000));
    ASSERT_TRUE(WriteFileAt(Target("mount/b.txt"), "old b", kOld, 7000));
    ASSERT_EQ(chmod(Target("mount/b.txt").c_str(), 0640), 0);
    ASSERT_TRUE(SetModificationTime(other_->Path(), kOld + 1));
  }
  void TearDown() override {
    if (mounted_) umount2(Target("mount").c_str(), MNT_DETACH);
    other_.reset();
  }

  std::unique_ptr<OtherFileSystemDirectory> other_;
  bool mounted_ = false;
};

TEST_F(OtherFileSystemTest, CopiedOriginalsComeBackWholeOnFailureAndGoOnSuccess) {
  OpenKit({{"a.txt", TimeOf(kKit), "new a"},
           {"mount/b.txt", TimeOf(kKit), "new b"},
           {"mount/b.txt/c.txt", TimeOf(kKit), "cannot be"}});
  const TreeState before = SnapshotTree(target_);
  const TreeState other_before = SnapshotTree(other_->Path());
  struct stat64 status;
  ASSERT_EQ(lstat64(Target("mount/b.txt").c_str(), &status), 0);
  const mode_t mode = status.st_mode;
  // The third entry needs mount/b.txt as a directory, which fails: both originals return.
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
  EXPECT_EQ(DescribeDifferences(other_before, SnapshotTree(other_->Path())), "");
  ASSERT_EQ(lstat64(Target("mount/b.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode, mode);

  OpenKit({{"a.txt", TimeOf(kKit), "new a"}, {"mount/b.txt", TimeOf(kKit), "new b"}});
  EXPECT_EQ(RunJob(), 0);
  EXPECT_EQ(ReadWholeFile(Target("mount/b.txt")), "new b");
  EXPECT_FALSE(WorkFolderLeft());
  EXPECT_EQ(SnapshotTree(other_->Path()).size(), 2u);  // the folder and b.txt
}

TEST_F(InstallJobTest, KitNamingAPathTwiceKeepsTheOriginalForTheRollback) {
  ASSERT_TRUE(MakeDirectories(target_));
  ASSERT_TRUE(WriteFileAt(Target("twice.txt"), "original", kOld));
  OpenKit({{"twice.txt", TimeOf(kKit), "first"},
           {"twice.txt", TimeOf(kKit + 10), "second"},
           {"blocked/x.txt", TimeOf(kKit), "x"}});
  ASSERT_TRUE(WriteFileAt(Target("blocked"), "in the way", kOld));
  const TreeState before = SnapshotTree(target_);
  // The third entry's directory is a regular file: the copy cannot be opened.
  EXPECT_EQ(RunJob(), static_cast<int32_t>(kErrorInvalidParameter));
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}
