// The two file operations an installation uses to undo and to cross file systems: removing a
// tree without following links, and copying a file to a new name whole or not at all.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fs/copy_file.h"
#include "fs/remove_tree.h"
#include "fs/temp_file.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

TEST(RemoveTreeTest, RemovesATreeButNeverWhatItsLinksPointTo) {
  ScratchDirectory scratch;
  ASSERT_EQ(mkdir(scratch.Child("outside").c_str(), 0700), 0);
  ASSERT_TRUE(WriteWholeFile(scratch.Child("outside/kept"), "kept"));
  ASSERT_EQ(mkdir(scratch.Child("tree").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(scratch.Child("tree/a").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(scratch.Child("tree/a/b").c_str(), 0500), 0);  // no write bit for root
  ASSERT_TRUE(WriteWholeFile(scratch.Child("tree/a/f"), "f"));
  ASSERT_EQ(symlink(scratch.Child("outside").c_str(), scratch.Child("tree/a/to-outside").c_str()),
            0);
  ASSERT_EQ(symlink(scratch.Child("outside").c_str(), scratch.Child("link-to-outside").c_str()),
            0);
  EXPECT_EQ(RemoveTree(NarrowOf(scratch.Child("tree"))), kSuccess);
  EXPECT_FALSE(Exists(scratch.Child("tree")));
  // A link named by the path itself goes, not the directory it names.
  EXPECT_EQ(RemoveTree(NarrowOf(scratch.Child("link-to-outside"))), kSuccess);
  EXPECT_FALSE(Exists(scratch.Child("link-to-outside")));
  EXPECT_EQ(ReadWholeFile(scratch.Child("outside/kept")), "kept");
  EXPECT_EQ(RemoveTree(NarrowOf(scratch.Child("missing"))), kSuccess);
}

TEST(CopyFileTest, ACopyKeepsBytesModeAndTimesAndNeverReplacesAName) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), std::string(3 << 20, 'x') + "end"));
  ASSERT_EQ(chmod(scratch.Child("from").c_str(), 0640), 0);
  const struct timespec times[2] = {{1000, 5}, {2000, 7}};
  ASSERT_EQ(utimensat(AT_FDCWD, scratch.Child("from").c_str(), times, 0), 0);
  ASSERT_EQ(CopyFileExclusively(NarrowOf(scratch.Child("from")), NarrowOf(scratch.Child("to"))),
            kSuccess);
  EXPECT_EQ(ReadWholeFile(scratch.Child("to")), ReadWholeFile(scratch.Child("from")));
  struct stat64 status;
  ASSERT_EQ(lstat64(scratch.Child("to").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_mtim.tv_sec, 2000);
  EXPECT_EQ(status.st_mtim.tv_nsec, 7);

  ASSERT_TRUE(WriteWholeFile(scratch.Child("taken"), "someone's"));
  EXPECT_EQ(CopyFileExclusively(NarrowOf(scratch.Child("from")), NarrowOf(scratch.Child("taken"))),
            kErrorInvalidParameter);
  EXPECT_EQ(ReadWholeFile(scratch.Child("taken")), "someone's");

  ASSERT_EQ(symlink("somewhere", scratch.Child("link").c_str()), 0);
  ASSERT_EQ(
      CopyFileExclusively(NarrowOf(scratch.Child("link")), NarrowOf(scratch.Child("link-copy"))),
      kSuccess);
  char target[64] = {};
  ASSERT_EQ(readlink(scratch.Child("link-copy").c_str(), target, sizeof target - 1), 9);
  EXPECT_STREQ(target, "somewhere");
}

TEST(CopyFileTest, ACopyThatFailsLeavesNothingBehind) {
  ScratchDirectory scratch;
  EXPECT_EQ(CopyFileExclusively(NarrowOf(scratch.Child("missing")), NarrowOf(scratch.Child("to"))),
            kErrorNotFound);
  ASSERT_EQ(mkdir(scratch.Child("directory").c_str(), 0700), 0);
  EXPECT_EQ(
      CopyFileExclusively(NarrowOf(scratch.Child("directory")), NarrowOf(scratch.Child("to"))),
      kErrorInvalidParameter);
  EXPECT_FALSE(Exists(scratch.Child("to")));

  // A write that fails half-way: the process may not write files beyond 1 MiB.
  ASSERT_TRUE(WriteWholeFile(scratch.Child("big"), std::string(3 << 20, 'b')));
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const ErrorCode code =
      CopyFileExclusively(NarrowOf(scratch.Child("big")), NarrowOf(scratch.Child("to")));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(code, kErrorInvalidParameter);
  EXPECT_FALSE(Exists(scratch.Child("to")));
  EXPECT_EQ(ReadWholeFile(scratch.Child("big")).size(), 3u << 20);
}

TEST(AnonymousFileTest, TheContainerFileHasNoName) {
  ScratchDirectory scratch;
  int descriptor = -1;
  ASSERT_EQ(CreateAnonymousFile(NarrowOf(scratch.Path()), NarrowString("edf"), &descriptor),
            kSuccess);
  EXPECT_EQ(write(descriptor, "abc", 3), 3);
  struct stat64 status;
  ASSERT_EQ(fstat64(descriptor, &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_nlink, 0u);
  EXPECT_EQ(status.st_size, 3);
  close(descriptor);
}
