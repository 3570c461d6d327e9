#include "fs/move_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fs/environment_override.h"
#include "fs/other_file_system.h"
#include "fs/scratch_directory.h"
#include "gtest/gtest.h"

namespace {

ino_t InodeOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

time_t ModifiedSeconds(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mtime : -1;
}

bool SetModified(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// An "mv" first in PATH that writes its arguments to a log and exits with status 1.
class FailingMove {
 public:
  explicit FailingMove(const ScratchDirectory& scratch)
      : bin_(scratch.Child("bin")), log_(scratch.Child("mv.log")), path_("PATH", nullptr) {
    mkdir(bin_.c_str(), 0755);
    WriteWholeFile(bin_ + "/mv", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + log_ + "'\nexit 1\n");
    chmod((bin_ + "/mv").c_str(), 0755);
    setenv("PATH", (bin_ + ":" + path_.OldValue()).c_str(), 1);
  }
  std::string Log() const { return ReadWholeFile(log_); }

 private:
  std::string bin_;
  std::string log_;
  EnvironmentOverride path_;
};

}  // namespace

TEST(MovePathTest, MovesTheFileItselfWithoutAShell) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), "bytes"));
  ASSERT_TRUE(SetModified(scratch.Child("from"), 1500000000));
  const ino_t inode = InodeOf(scratch.Child("from"));
  ASSERT_EQ(0, mkdir(scratch.Child("dir").c_str(), 0755));
  bool ran_shell = true;
  EXPECT_EQ(kSuccess, MovePath(scratch.Wide("from"), scratch.Wide("dir/to"), &ran_shell));
  EXPECT_FALSE(ran_shell);
  EXPECT_FALSE(Exists(scratch.Child("from")));
  EXPECT_EQ("bytes", ReadWholeFile(scratch.Child("dir/to")));
  EXPECT_EQ(inode, InodeOf(scratch.Child("dir/to")));
  EXPECT_EQ(1500000000, ModifiedSeconds(scratch.Child("dir/to")));
}

TEST(MovePathTest, ReplacesAFileAtTheDestination) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), "new"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("to"), "old and longer"));
  EXPECT_EQ(kSuccess, MovePath(scratch.Wide("from"), scratch.Wide("to"), nullptr));
  EXPECT_EQ("new", ReadWholeFile(scratch.Child("to")));
}

TEST(MovePathTest, LinksAreMovedNotFollowed) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("link").c_str()));
  EXPECT_EQ(kSuccess, MovePath(scratch.Wide("link"), scratch.Wide("moved"), nullptr));
  char target[64] = {};
  ASSERT_EQ(7, readlink(scratch.Child("moved").c_str(), target, sizeof(target) - 1));
  EXPECT_STREQ("nowhere", target);
}

TEST(MovePathTest, FailuresKeepTheirCodesAndTouchNothing) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("to"), "kept"));
  // Nothing at the source.
  EXPECT_EQ(kErrorNotFound, MovePath(scratch.Wide("missing"), scratch.Wide("to"), nullptr));
  EXPECT_EQ("kept", ReadWholeFile(scratch.Child("to")));
  // No directory for the destination.
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), "stays"));
  EXPECT_EQ(kErrorNotFound, MovePath(scratch.Wide("from"), scratch.Wide("no/to"), nullptr));
  // A directory at the destination: a file is never moved into it.
  ASSERT_EQ(0, mkdir(scratch.Child("dir").c_str(), 0755));
  EXPECT_EQ(kErrorInvalidParameter,
            MovePath(scratch.Wide("from"), scratch.Wide("dir"), nullptr));
  EXPECT_FALSE(Exists(scratch.Child("dir/from")));
  // A regular file where the destination needs a directory.
  EXPECT_EQ(kErrorInvalidParameter,
            MovePath(scratch.Wide("from"), scratch.Wide("to/below"), nullptr));
  // A destination name too long for the system.
  const std::string deep = scratch.MakeDirectoryOfPathLength(4050);
  EXPECT_EQ(kErrorInvalidParameter,
            MovePath(scratch.Wide("from"), WideFromAscii(deep + "/" + std::string(60, 'x')),
                     nullptr));
  EXPECT_EQ("stays", ReadWholeFile(scratch.Child("from")));
  EXPECT_EQ("kept", ReadWholeFile(scratch.Child("to")));
}

TEST(MovePathTest, AcrossFileSystemsTheShellMoves) {
  ScratchDirectory scratch;
  OtherFileSystemDirectory other(scratch.Path());
  if (!other.Found()) GTEST_SKIP() << "no second file system to move across";
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), "travels"));
  ASSERT_TRUE(SetModified(scratch.Child("from"), 1500000000));
  bool ran_shell = false;
  EXPECT_EQ(kSuccess,
            MovePath(scratch.Wide("from"), WideFromAscii(other.Path() + "/to"), &ran_shell));
  EXPECT_TRUE(ran_shell);
  EXPECT_FALSE(Exists(scratch.Child("from")));
  EXPECT_EQ("travels", ReadWholeFile(other.Path() + "/to"));
  EXPECT_EQ(1500000000, ModifiedSeconds(other.Path() + "/to"));
}

TEST(MovePathTest, AcrossFileSystemsAFailedShellMoveIsReported) {
  ScratchDirectory scratch;
  OtherFileSystemDirectory other(scratch.Path());
  if (!other.Found()) GTEST_SKIP() << "no second file system to move across";
  ASSERT_TRUE(WriteWholeFile(scratch.Child("from"), "stays"));
  FailingMove failing(scratch);
  bool ran_shell = false;
  EXPECT_EQ(kErrorNotFound,
            MovePath(scratch.Wide("from"), WideFromAscii(other.Path() + "/to"), &ran_shell));
  EXPECT_TRUE(ran_shell);
  EXPECT_EQ(scratch.Child("from") + " " + other.Path() + "/to\n", failing.Log());
  EXPECT_EQ("stays", ReadWholeFile(scratch.Child("from")));
  EXPECT_FALSE(Exists(other.Path() + "/to"));
}
