#include "install/transaction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/install_test_support.h"

namespace {

constexpr int64_t kOld = 1500000000;

class TransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    target_ = scratch_.Path("tmplts");
    ASSERT_TRUE(MakeDirectories(target_));
  }
  std::string Target(const std::string& name) const { return target_ + "/" + name; }
  WideString WideTarget() const { return WideFromAscii(target_ + "/"); }

  std::vector<std::string> Created(const Transaction& transaction) const {
    std::vector<std::string> created;
    for (const WideString& path : transaction.Current()->created_directories) {
      created.push_back(AsciiOf(path));
    }
    return created;
  }

  InstallScratch scratch_;
  std::string target_;
};

}  // namespace

TEST_F(TransactionTest, BackupDirectoryIsPrivateAndItsNameFreeAgainAfterCommit) {
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  const std::string backup = scratch_.TempDirectory() + "/t5stp0";
  EXPECT_EQ(AsciiOf(transaction.Current()->backup_directory), backup + "/");
  struct stat64 status;
  ASSERT_EQ(lstat64(backup.c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(status.st_mode & 077, 0u);
  EXPECT_TRUE(transaction.Current()->created_directories.empty());
  transaction.Commit();
  EXPECT_FALSE(Exists(backup));
  // No command was needed to make or to remove an empty backup directory.
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);

  Transaction next;
  ASSERT_EQ(next.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(AsciiOf(next.Current()->backup_directory), backup + "/");
  next.Commit();
}

TEST_F(TransactionTest, TakenNamesAreSkippedAndLeftAlone) {
  const std::string temp = scratch_.TempDirectory();
  ASSERT_TRUE(MakeDirectories(temp + "/t5stp0"));
  ASSERT_TRUE(WriteFileAt(temp + "/t5stp0/inside", "kept", kOld));
  ASSERT_TRUE(WriteFileAt(temp + "/t5stp1", "kept too", kOld));
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(AsciiOf(transaction.Current()->backup_directory), temp + "/t5stp2/");
  EXPECT_EQ(transaction.Rollback(kErrorNotFound), kErrorNotFound);
  EXPECT_EQ(ReadWholeFile(temp + "/t5stp0/inside"), "kept");
  EXPECT_EQ(ReadWholeFile(temp + "/t5stp1"), "kept too");
  EXPECT_EQ(scratch_.BackupNames(), (std::vector<std::string>{"t5stp0", "t5stp1"}));
}

TEST_F(TransactionTest, EmptyTargetHasNoBackupAndCannotReplaceFiles) {
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideString()), kSuccess);
  EXPECT_TRUE(transaction.Current()->backup_directory.Empty());
  EXPECT_TRUE(scratch_.BackupNames().empty());
  ASSERT_TRUE(WriteFileAt(Target("exists"), "x", kOld));
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("exists"))), kErrorInvalidParameter);
  EXPECT_EQ(ReadWholeFile(Target("exists")), "x");
}

TEST_F(TransactionTest, CreateDirectoryRecordedRecordsEveryNewLevelOutermostFirst) {
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideString(u"/")), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(target_)), kSuccess);
  EXPECT_TRUE(Created(transaction).empty());
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);

  // Made with mkdir(2): no command.
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target("a/b/c"))), kSuccess);
  EXPECT_EQ(Created(transaction),
            (std::vector<std::string>{Target("a"), Target("a/b"), Target("a/b/c")}));
  struct stat64 status;
  ASSERT_EQ(lstat64(Target("a/b/c").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target("a/b"))), kSuccess);
  EXPECT_EQ(Created(transaction).size(), 3u);
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);

  transaction.Rollback(kErrorNotFound);
  EXPECT_FALSE(Exists(Target("a")));
}

TEST_F(TransactionTest, CreateDirectoryRecordedBelowAFileFails) {
  ASSERT_TRUE(WriteFileAt(Target("file"), "x", kOld));
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target("file/sub"))), kErrorNotFound);
  EXPECT_TRUE(Created(transaction).empty());
  // No parent can be formed for a bare name that cannot be made.
  EXPECT_EQ(transaction.EnsureDirectory(WideString()), kErrorPathNotFound);
  transaction.Rollback(kErrorNotFound);
  EXPECT_EQ(ReadWholeFile(Target("file")), "x");
}

TEST_F(TransactionTest, DeleteTreeOfNothingRunsNothingAndNeverFollowsLinks) {
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  EXPECT_EQ(transaction.DeleteTree(WideFromAscii(Target("missing"))), kSuccess);
  EXPECT_EQ(transaction.DeleteTree(WideString()), kSuccess);
  EXPECT_EQ(transaction.DeleteTree(WideString(u"/")), kSuccess);
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);

  const std::string outside = scratch_.Path("outside");
  ASSERT_TRUE(MakeDirectories(outside));
  ASSERT_TRUE(WriteFileAt(outside + "/precious", "precious", kOld));
  ASSERT_TRUE(MakeDirectories(Target("doomed")));
  ASSERT_EQ(symlink(outside.c_str(), Target("doomed/link").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), Target("link").c_str()), 0);
  EXPECT_EQ(transaction.DeleteTree(WideFromAscii(Target("doomed"))), kSuccess);
  EXPECT_FALSE(Exists(Target("doomed")));
  // A trailing "/" on a link must not turn into removing what it points at.
  EXPECT_EQ(transaction.DeleteTree(WideFromAscii(Target("link/"))), kSuccess);
  EXPECT_FALSE(Exists(Target("link")));
  EXPECT_EQ(ReadWholeFile(outside + "/precious"), "precious");
  transaction.Commit();
}

TEST_F(TransactionTest, BackUpFileMovesOnlyWhatExists) {
  ASSERT_TRUE(MakeDirectories(Target("d")));
  ASSERT_TRUE(WriteFileAt(Target("d/one"), "one", kOld));
  ASSERT_TRUE(WriteFileAt(Target("d/two"), "two", kOld));
  ASSERT_TRUE(MakeDirectories(Target("adir")));
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  const std::string backup = AsciiOf(transaction.Current()->backup_directory);

  // Nothing there: recorded as the run's new file, nothing run. A file whose directory
  // does not exist yet goes with that directory (which the run makes and records).
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("d/new"))), kSuccess);
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("nodir/new"))), kSuccess);
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);
  ASSERT_EQ(transaction.Current()->files_to_delete,
            (std::vector<WideString>{WideFromAscii(Target("d/new"))}));

  // Two files of one directory, renamed into the backup without a command.
  struct stat64 status;
  ASSERT_EQ(lstat64(Target("d/one").c_str(), &status), 0);
  const ino_t inode = status.st_ino;
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("d/one"))), kSuccess);
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("d/two"))), kSuccess);
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);
  EXPECT_FALSE(Exists(Target("d/one")));
  ASSERT_EQ(lstat64((backup + "d/one").c_str(), &status), 0);
  EXPECT_EQ(status.st_ino, inode);
  EXPECT_EQ(ReadWholeFile(backup + "d/one"), "one");
  EXPECT_EQ(ModificationSeconds(backup + "d/two"), kOld);

  // The same path again holds the run's own file: the original stays in the backup.
  ASSERT_TRUE(WriteFileAt(Target("d/one"), "run's own", kOld));
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("d/one"))), kSuccess);
  EXPECT_EQ(ReadWholeFile(backup + "d/one"), "one");
  EXPECT_EQ(transaction.ShellCommandsStarted(), 0u);

  // A directory is never moved.
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("adir"))), kErrorInvalidParameter);
  EXPECT_TRUE(Exists(Target("adir")));

  transaction.Rollback(kErrorNotFound);
  EXPECT_EQ(ReadWholeFile(Target("d/one")), "one");
  EXPECT_EQ(ReadWholeFile(Target("d/two")), "two");
  EXPECT_TRUE(scratch_.BackupNames().empty());
}

TEST_F(TransactionTest, RollbackPutsBackLinksFilesAndDirectoryTimes) {
  ASSERT_TRUE(MakeDirectories(Target("d")));
  ASSERT_TRUE(WriteFileAt(Target("d/file"), "file", kOld, 5));
  const std::string outside = scratch_.Path("outside");
  ASSERT_TRUE(MakeDirectories(outside));
  ASSERT_TRUE(WriteFileAt(outside + "/precious", "precious", kOld));
  // A dangling link, and a link to a directory outside, where the kit has files.
  ASSERT_EQ(symlink("nowhere", Target("d/dangling").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), Target("d/tooutside").c_str()), 0);
  ASSERT_TRUE(SetModificationTime(Target("d"), kOld, 11));
  ASSERT_TRUE(SetModificationTime(target_, kOld, 22));
  const TreeState before = SnapshotTree(target_);
  const TreeState outside_before = SnapshotTree(outside);
  ASSERT_EQ(before.size(), 5u);

  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  for (const char* name : {"d/file", "d/dangling", "d/tooutside", "d/new", "top"}) {
    ASSERT_EQ(transaction.BackUpFile(WideFromAscii(Target(name))), kSuccess) << name;
    ASSERT_TRUE(WriteFileAt(Target(name), "written by the run", kOld + 99)) << name;
  }
  ASSERT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target("d/n1/n2"))), kSuccess);
  ASSERT_TRUE(WriteFileAt(Target("d/n1/n2/f"), "new", kOld));
  EXPECT_NE(DescribeDifferences(before, SnapshotTree(target_)), "");

  EXPECT_EQ(transaction.Rollback(kErrorInvalidData), kErrorInvalidData);
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
  EXPECT_EQ(DescribeDifferences(outside_before, SnapshotTree(outside)), "");
  EXPECT_TRUE(scratch_.BackupNames().empty());
}

TEST_F(TransactionTest, OperationsWithoutARecordFailOrDoNothing) {
  Transaction transaction;
  EXPECT_EQ(transaction.Current(), nullptr);
  EXPECT_EQ(transaction.BackUpFile(WideFromAscii(Target("x"))), kErrorInvalidParameter);
  EXPECT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target("x"))), kErrorInvalidParameter);
  EXPECT_EQ(transaction.Rollback(kErrorCancelled), kErrorCancelled);
  transaction.Commit();
  EXPECT_FALSE(Exists(Target("x")));
}

// A fresh installation into directories of the run's own lists none of its files: the
// directories take them along on a rollback, and the record does not grow with the kit.
TEST_F(TransactionTest, NewFilesInTheRunsOwnDirectoriesGoWithThem) {
  ASSERT_TRUE(MakeDirectories(Target("old")));
  ASSERT_TRUE(SetModificationTime(Target("old"), kOld, 33));
  const TreeState before = SnapshotTree(target_);
  Transaction transaction;
  ASSERT_EQ(transaction.BeginTransaction(WideTarget()), kSuccess);
  for (int folder = 0; folder < 3; ++folder) {
    const std::string directory = "new" + std::to_string(folder) + "/deeper";
    for (int file = 0; file < 4; ++file) {
      const std::string path = Target(directory + "/f" + std::to_string(file));
      ASSERT_EQ(transaction.BackUpFile(WideFromAscii(path)), kSuccess);
      ASSERT_EQ(transaction.CreateDirectoryRecorded(WideFromAscii(Target(directory))), kSuccess);
      ASSERT_TRUE(WriteFileAt(path, "new", kOld));
    }
  }
  ASSERT_EQ(transaction.BackUpFile(WideFromAscii(Target("old/f"))), kSuccess);
  ASSERT_TRUE(WriteFileAt(Target("old/f"), "new", kOld));
  EXPECT_EQ(transaction.Current()->files_to_delete,
            (std::vector<WideString>{WideFromAscii(Target("old/f"))}));
  EXPECT_EQ(transaction.Current()->created_directories.size(), 6u);

  transaction.Rollback(kErrorNotFound);
  EXPECT_EQ(DescribeDifferences(before, SnapshotTree(target_)), "");
}
