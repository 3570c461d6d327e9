#include "install/transaction.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <filesystem>
#include <string>
#include <vector>

#include "install/install_test_access.h"
#include "install/install_test_support.h"
#include "install/journal_format.h"
#include "install/recovery.h"
#include "install/stop_signal.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "testing/tree_snapshot.h"

namespace {

constexpr int64_t kOld = 1500000000;

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override { target_ = scratch_.Child("tmplts"); }
  std::string Target(const std::string& name) const { return target_ + "/" + name; }
  WideString WideTarget() const { return WideFromAscii(target_ + "/"); }

  // Writes bytes to relative the way a run does: temporary file, then into place.
  ErrorCode WriteFile(Transaction* transaction, const std::string& relative,
                      const std::string& bytes) {
    const bool replaces = Exists(Target(relative));
    PendingFile file;
    ErrorCode code = transaction->BeginFile(NarrowOf(relative), replaces, &file);
    if (code != kSuccess) return code;
    if (write(file.descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        close(file.descriptor) != 0) {
      return kErrorInvalidParameter;
    }
    file.descriptor = -1;
    code = transaction->CompleteFile(&file);
    return code != kSuccess ? code : transaction->PublishPending();
  }

  // The tree the killed-run tests start from: files to replace, a folder to fill.
  void MakeOriginalTree() {
    ASSERT_TRUE(MakeDirectories(Target("keep")));
    ASSERT_TRUE(WriteFileAt(Target("a.txt"), "old a", kOld, 11));
    ASSERT_TRUE(WriteFileAt(Target("keep/b.txt"), "old b", kOld, 22));
    ASSERT_EQ(symlink("nowhere", Target("keep/link").c_str()), 0);
    ASSERT_TRUE(SetModificationTime(Target("keep"), kOld, 33));
    ASSERT_TRUE(SetModificationTime(target_, kOld, 44));
  }

  // A run that replaces two files, adds files in an existing and a new folder, and is then
  // killed: the transaction ends without a rollback, as a killed process would leave it.
  void RunAndKill() {
    Transaction transaction;
    ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "a.txt", "new a"), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "keep/b.txt", "new b"), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "keep/link", "new link"), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "keep/c.txt", "new c"), kSuccess);
    ASSERT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("new/deeper")), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "new/deeper/d.txt", "new d"), kSuccess);
    // A temporary file half written when the kill came.
    PendingFile half;
    ASSERT_EQ(transaction.BeginFile(NarrowOf("keep/e.txt"), false, &half), kSuccess);
    ASSERT_EQ(write(half.descriptor, "ha", 2), 2);
    close(half.descriptor);
    transaction.End();
  }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  std::string target_;
};

std::vector<std::string> Ascii(const std::vector<NarrowString>& paths) {
  std::vector<std::string> ascii;
  for (const NarrowString& path : paths) ascii.push_back(path.CStr());
  return ascii;
}

}  // namespace

TEST_F(TransactionTest, CreateDirectoryRecordedMakesAndRecordsEveryNewLevelOutermostFirst) {
  ASSERT_TRUE(MakeDirectories(Target("existing")));
  ASSERT_TRUE(WriteFileAt(Target("file"), "x", kOld));
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("existing")), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("a/b/c")), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("a/b/d")), kSuccess);
  EXPECT_EQ(Ascii(InstallTestAccess::CreatedDirectories(transaction)),
            (std::vector<std::string>{"a", "a/b", "a/b/c", "a/b/d"}));
  EXPECT_TRUE(IsDirectory(Target("a/b/d")));
  EXPECT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("file/below")), kErrorNotFound);
  transaction.Rollback();
  EXPECT_FALSE(Exists(Target("a")));
  EXPECT_TRUE(IsDirectory(Target("existing")));
}

// What the journal costs: inside the run's own folders, one record of what it made (its
// identity) and no temporary-file or backup record; outside them, the temporary and the new
// file as well.
TEST_F(TransactionTest, FilesInTheRunsOwnFoldersNeedNoRecord) {
  auto count = [](const Transaction& transaction, JournalKind kind) {
    std::size_t n = 0;
    for (const JournalRecord& record : InstallTestAccess::Records(transaction)) {
      n += record.kind == kind ? 1 : 0;
    }
    return n;
  };
  {
    Transaction made;
    ASSERT_EQ(made.BeginTransaction(WideFromAscii(target_ + "/made/")), kSuccess);
    EXPECT_TRUE(InstallTestAccess::MadeTarget(made));
    ASSERT_EQ(made.CreateDirectoryRecorded(NarrowOf("x/y")), kSuccess);
    ASSERT_EQ(WriteFile(&made, "x/y/f", "f"), kSuccess);
    ASSERT_EQ(WriteFile(&made, "top", "t"), kSuccess);
    EXPECT_EQ(count(made, JournalKind::kMadeTarget), 1u);
    EXPECT_EQ(count(made, JournalKind::kMadeDirectory), 2u);
    // The folders' identities; the files' go to the journal alone.
    EXPECT_EQ(count(made, JournalKind::kMadeIdentity), 2u);
    EXPECT_EQ(InstallTestAccess::Records(made).size(), 5u);
    EXPECT_EQ(made.Commit(), kSuccess);
  }
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  ASSERT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("new/deeper")), kSuccess);
  const std::size_t after_directories = InstallTestAccess::Records(transaction).size();
  ASSERT_EQ(WriteFile(&transaction, "new/deeper/f", "f"), kSuccess);
  EXPECT_EQ(InstallTestAccess::Records(transaction).size(), after_directories);
  ASSERT_EQ(WriteFile(&transaction, "existing-folder-file", "e"), kSuccess);
  // The temporary and the new file.
  EXPECT_EQ(InstallTestAccess::Records(transaction).size(), after_directories + 2);
  EXPECT_EQ(transaction.Commit(), kSuccess);
  EXPECT_FALSE(Exists(Target(".t5stp")));
  EXPECT_EQ(ReadWholeFile(Target("new/deeper/f")), "f");
}

// The transaction's own guard, behind the job's: a directory is never given a backup name or
// moved away to make room for a file.
TEST_F(TransactionTest, ADirectoryAtAFilesNameIsNeitherKeptNorReplaced) {
  ASSERT_TRUE(MakeDirectories(Target("dir")));
  ASSERT_TRUE(WriteFileAt(Target("dir/inside.txt"), "mine", kOld));
  ASSERT_TRUE(SetModificationTime(Target("dir"), kOld, 55));
  ASSERT_TRUE(SetModificationTime(target_, kOld, 66));
  const TreeState before = SnapshotTree(target_);
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_NE(WriteFile(&transaction, "dir", "a file"), kSuccess);
  transaction.Rollback();
  EXPECT_EQ(SnapshotTree(target_), before) << DescribeDifferences(before, SnapshotTree(target_));
}

TEST_F(TransactionTest, KilledRunIsRolledBackEvenWhenTheRollbackIsStoppedAtAnyStep) {
  MakeOriginalTree();
  const TreeState original = SnapshotTree(target_);
  bool completed_within_budget = false;
  for (int64_t budget = 0; budget < 200 && !completed_within_budget; ++budget) {
    RunAndKill();
    ASSERT_TRUE(Exists(Target(".t5stp/journal")));
    // A rollback stopped after budget changes, then one left to finish.
    int64_t changes_left = budget;
    TempNames names;
    RecoveryDetail detail;
    RootDescriptor root(target_);
    const RecoveryOutcome first =
        RecoverWorkFolder(root.get(), NarrowOf(target_ + "/"), true, &names, &detail, &changes_left);
    completed_within_budget = first == RecoveryOutcome::kRolledBack;
    Transaction next;
    ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess) << "budget " << budget;
    EXPECT_EQ(next.RolledBackInterruptedRun(), !completed_within_budget) << "budget " << budget;
    next.End();
    EXPECT_EQ(DescribeDifferences(original, SnapshotTree(target_)), "") << "budget " << budget;
  }
  EXPECT_TRUE(completed_within_budget);
}

TEST_F(TransactionTest, RunKilledAfterItsCommitPointIsKept) {
  MakeOriginalTree();
  {
    Transaction transaction;
    ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "a.txt", "new a"), kSuccess);
    ASSERT_EQ(WriteFile(&transaction, "new.txt", "new"), kSuccess);
    transaction.End();
  }
  // Killed right after the journal was marked committed, before the folder went.
  ASSERT_EQ(rename(Target(".t5stp/journal").c_str(), Target(".t5stp/committed").c_str()), 0);
  Transaction next;
  ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_FALSE(next.RolledBackInterruptedRun());
  EXPECT_FALSE(Exists(Target(".t5stp")));
  EXPECT_EQ(ReadWholeFile(Target("a.txt")), "new a");
  EXPECT_EQ(ReadWholeFile(Target("new.txt")), "new");
}

// A commit marks its journal committed before it removes anything: a commit that cannot
// finish tidying up is still a commit, and the next run finishes it instead of undoing it.
TEST_F(TransactionTest, ACommitThatCannotTidyUpIsStillKept) {
  MakeOriginalTree();
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  ASSERT_EQ(WriteFile(&transaction, "a.txt", "new a"), kSuccess);
  // The original held in the backup folder cannot be removed.
  ImmutableGuard guard(Target(".t5stp/backup/a.txt"));
  if (!SetImmutable(Target(".t5stp/backup/a.txt"), true)) {
    GTEST_SKIP() << "no immutable attribute here";
  }
  EXPECT_EQ(transaction.Commit(), kSuccess);
  ASSERT_TRUE(SetImmutable(Target(".t5stp/backup/a.txt"), false));
  Transaction next;
  ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_FALSE(next.RolledBackInterruptedRun());
  EXPECT_EQ(ReadWholeFile(Target("a.txt")), "new a");
  EXPECT_FALSE(Exists(Target(".t5stp")));
}

TEST_F(TransactionTest, ASecondRunWaitsForTheFirstAndAStopEndsTheWait) {
  ASSERT_TRUE(MakeDirectories(target_));
  Transaction first;
  ASSERT_EQ(first.BeginTransaction(WideTarget()), kSuccess);
  ASSERT_EQ(WriteFile(&first, "a.txt", "first"), kSuccess);

  StopSignal stop;
  std::future<ErrorCode> stopped = std::async(std::launch::async, [&] {
    Transaction waiting(&stop);
    return waiting.BeginTransaction(WideTarget());
  });
  EXPECT_EQ(stopped.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  stop.Request();
  EXPECT_EQ(stopped.get(), kErrorCancelled);
  EXPECT_EQ(first.Commit(), kSuccess);
}

TEST_F(TransactionTest, RunThatWaitedWhileTheDirectoryWentMakesItAgain) {
  Transaction first;
  ASSERT_EQ(first.BeginTransaction(WideTarget()), kSuccess);
  ASSERT_TRUE(InstallTestAccess::MadeTarget(first));
  std::future<bool> second = std::async(std::launch::async, [&] {
    Transaction waiting;
    const bool begun = waiting.BeginTransaction(WideTarget()) == kSuccess;
    return begun && InstallTestAccess::MadeTarget(waiting) && IsDirectory(target_);
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  first.Rollback();
  EXPECT_TRUE(second.get());
}

// A killed run is rolled back by the next start long after the user went on working: what
// the user saved since, in the directory the run made, in a folder it made, or at a name
// where the run had put a file, stays, and so do the folders holding it.
TEST_F(TransactionTest, RollbackRemovesOnlyWhatTheRunMadeAndKeepsWhatTheUserAddedSince) {
  {
    Transaction transaction;
    ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
    ASSERT_TRUE(InstallTestAccess::MadeTarget(transaction));
    ASSERT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("n/deeper")), kSuccess);
    ASSERT_EQ(transaction.CreateDirectoryRecorded(NarrowOf("gone")), kSuccess);
    for (const char* name : {"top.txt", "n/x.txt", "n/deeper/y.txt", "replaced.txt"}) {
      ASSERT_EQ(WriteFile(&transaction, name, "the run's"), kSuccess);
    }
    transaction.End();  // killed
  }
  ASSERT_TRUE(WriteWholeFile(Target("readme-mine.txt"), "mine"));
  ASSERT_TRUE(MakeDirectories(Target("mine")));
  ASSERT_TRUE(WriteWholeFile(Target("mine/notes.txt"), "mine"));
  ASSERT_TRUE(WriteWholeFile(Target("n/mine.txt"), "mine"));
  // The user's own file at a name where the run had put one.
  ASSERT_EQ(unlink(Target("replaced.txt").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(Target("replaced.txt"), "mine"));
  // The run's own file, changed in place to as many bytes, at a later time.
  {
    const int file = open(Target("top.txt").c_str(), O_WRONLY);
    ASSERT_GE(file, 0);
    ASSERT_EQ(pwrite(file, "THE RUN'S", 9, 0), 9);
    close(file);
    ASSERT_TRUE(SetModificationTime(Target("top.txt"), kOld + 100));
  }

  Transaction next;
  ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_TRUE(next.RolledBackInterruptedRun());
  next.End();
  for (const char* name : {"readme-mine.txt", "mine/notes.txt", "n/mine.txt", "replaced.txt"}) {
    EXPECT_EQ(ReadWholeFile(Target(name)), "mine") << name;
  }
  EXPECT_EQ(ReadWholeFile(Target("top.txt")), "THE RUN'S");
  for (const char* gone : {"n/x.txt", "n/deeper", "gone", ".t5stp"}) {
    EXPECT_FALSE(Exists(Target(gone))) << gone;
  }
}

// Without a lock to prove it ended, a work folder is taken over only from a run that is
// proven dead: one that is alive (here: this very process) is left exactly as it is.
TEST_F(TransactionTest, AWorkFolderOfARunThatMayLiveIsNeverTakenOver) {
  MakeOriginalTree();
  const TreeState original = SnapshotTree(target_);
  RunAndKill();
  const TreeState left = SnapshotTree(target_);
  TempNames names;
  RecoveryDetail detail;
  {
    RootDescriptor root(target_);
    EXPECT_EQ(RecoverWorkFolder(root.get(), NarrowOf(target_ + "/"), false, &names, &detail),
              RecoveryOutcome::kBusy);
  }
  EXPECT_NE(std::string(detail.reason.CStr()).find(std::to_string(getpid())), std::string::npos);
  EXPECT_EQ(DescribeDifferences(left, SnapshotTree(target_)), "");

  // The journal's owner made a process that has ended: a child, reaped.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string journal = Target(".t5stp/journal");
  std::string bytes = ReadWholeFile(journal);
  const uint32_t dead = static_cast<uint32_t>(child);
  ASSERT_EQ(bytes[kJournalMagicBytes], static_cast<char>(JournalKind::kOwner));
  for (int i = 0; i < 4; ++i) {
    bytes[kJournalMagicBytes + kJournalRecordHeaderBytes + i] =
        static_cast<char>((dead >> (8 * i)) & 0xFF);
  }
  ASSERT_TRUE(WriteWholeFile(journal, bytes));
  ASSERT_EQ(chmod(journal.c_str(), kJournalFileMode), 0);
  {
    RootDescriptor root(target_);
    EXPECT_EQ(RecoverWorkFolder(root.get(), NarrowOf(target_ + "/"), false, &names, &detail),
              RecoveryOutcome::kRolledBack);
  }
  EXPECT_EQ(DescribeDifferences(original, SnapshotTree(target_)), "");
}

// The killed run had made the template directory: its rollback takes the directory away,
// and the run that rolled it back makes it anew instead of failing.
TEST_F(TransactionTest, ARunThatRollsBackAKilledRunsNewDirectoryMakesItAgain) {
  {
    Transaction killed;
    ASSERT_EQ(killed.BeginTransaction(WideTarget()), kSuccess);
    ASSERT_EQ(WriteFile(&killed, "a.txt", "a"), kSuccess);
    killed.End();
  }
  Transaction next;
  ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_TRUE(next.RolledBackInterruptedRun());
  EXPECT_TRUE(InstallTestAccess::MadeTarget(next));
  ASSERT_EQ(WriteFile(&next, "b.txt", "b"), kSuccess);
  EXPECT_EQ(next.Commit(), kSuccess);
  EXPECT_FALSE(Exists(Target("a.txt")));
  EXPECT_EQ(ReadWholeFile(Target("b.txt")), "b");
}

// A file saved by the user at a name that was empty when the run looked is never replaced:
// the run fails there, and its rollback leaves the user's file.
TEST_F(TransactionTest, ANameTakenWhileTheRunWorkedIsNotReplaced) {
  // In a directory that was there (one file), and in one the run makes (six files, which
  // take their names on two threads; the name taken is in the second half).
  for (const bool made_by_run : {false, true}) {
    SCOPED_TRACE(made_by_run ? "made by the run" : "there before");
    std::filesystem::remove_all(target_);
    if (!made_by_run) ASSERT_TRUE(MakeDirectories(target_));
    Transaction transaction;
    ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
    const int count = made_by_run ? 6 : 1;
    for (int j = 0; j < count; ++j) {
      PendingFile file;
      const std::string name = "new" + std::to_string(j) + ".txt";
      ASSERT_EQ(transaction.BeginFile(NarrowOf(name), false, &file), kSuccess);
      ASSERT_EQ(write(file.descriptor, "the run's", 9), 9);
      ASSERT_EQ(close(file.descriptor), 0);
      file.descriptor = -1;
      ASSERT_EQ(transaction.CompleteFile(&file), kSuccess);
    }
    const std::string taken = "new" + std::to_string(count == 1 ? 0 : 4) + ".txt";
    ASSERT_TRUE(WriteWholeFile(Target(taken), "mine"));
    EXPECT_NE(transaction.PublishPending(), kSuccess);
    EXPECT_EQ(transaction.FailedRelativePath(), NarrowOf(taken));
    transaction.Rollback();
    EXPECT_FALSE(transaction.RestoreIncomplete());
    EXPECT_EQ(ReadWholeFile(Target(taken)), "mine");
    EXPECT_FALSE(Exists(Target(".t5stp")));
    // Nothing of the run's is left beside the user's file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target_),
                            std::filesystem::directory_iterator()),
              1);
  }
}
