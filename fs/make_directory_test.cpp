#include "fs/make_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fs/shell_commands.h"
#include "gtest/gtest.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

namespace {

// True when relative names a directory below the directory base (the whole path may be
// longer than the system takes at once).
bool IsDirectoryBelow(const std::string& base, const std::string& relative) {
  const int directory = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  struct stat status;
  const bool found = fstatat(directory, relative.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISDIR(status.st_mode);
  close(directory);
  return found;
}

// The kind and permission bits at path ("-" when nothing is there).
std::string Describe(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return "-";
  const char kind = S_ISDIR(status.st_mode) ? 'd' : S_ISLNK(status.st_mode) ? 'l' : 'f';
  char text[16];
  std::snprintf(text, sizeof(text), "%c%04o", kind, static_cast<unsigned>(status.st_mode & 07777));
  return text;
}

// Sets the umask for one test and puts the old one back.
class UmaskOverride {
 public:
  explicit UmaskOverride(mode_t mask) : old_(umask(mask)) {}
  ~UmaskOverride() { umask(old_); }

 private:
  mode_t old_;
};

// The same starting tree in two places: a regular file, a directory, a link to the
// directory and a dangling link.
void MakeStartingTree(const std::string& root) {
  ASSERT_EQ(0, mkdir(root.c_str(), 0755));
  ASSERT_TRUE(WriteWholeFile(root + "/file", "f"));
  ASSERT_EQ(0, mkdir((root + "/dir").c_str(), 0755));
  ASSERT_EQ(0, symlink("dir", (root + "/dirlink").c_str()));
  ASSERT_EQ(0, symlink("nowhere", (root + "/dangling").c_str()));
}

// The paths, relative to a starting tree, the two ways of making directories are compared on.
const char* const kCases[] = {
    "dir",         "new",           "a/b/c",      "a/b/c",      "trailing///",
    "x/./y/../z",  "dirlink/under", "dirlink",    "file",       "file/sub",
    "dangling",    "dangling/sub",  "dir/file2/..", "sp ace/$(touch X)/`q`\"\\",
};

}  // namespace

TEST(MakeDirectoryTreeTest, MakesEveryMissingLevel) {
  ScratchDirectory scratch;
  EXPECT_EQ(kSuccess, MakeDirectoryTree(scratch.Wide("x/y/z")));
  EXPECT_TRUE(IsDirectory(scratch.Child("x/y/z")));
  // Existing: success, nothing else happens.
  EXPECT_EQ(kSuccess, MakeDirectoryTree(scratch.Wide("x/y")));
  EXPECT_EQ(kSuccess, MakeDirectoryTree(WideFromAscii(scratch.Path())));
  EXPECT_EQ(kSuccess, MakeDirectoryTree(WideString(u"/")));
  EXPECT_EQ(kSuccess, MakeDirectoryTree(scratch.Wide("x//y///")));
}

TEST(MakeDirectoryTreeTest, SomethingElseInTheWayFails) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "p"));
  EXPECT_EQ(kErrorNotFound, MakeDirectoryTree(scratch.Wide("plain")));
  EXPECT_EQ(kErrorNotFound, MakeDirectoryTree(scratch.Wide("plain/sub/deeper")));
  EXPECT_EQ("p", ReadWholeFile(scratch.Child("plain")));
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("dangling").c_str()));
  EXPECT_EQ(kErrorNotFound, MakeDirectoryTree(scratch.Wide("dangling")));
  EXPECT_FALSE(IsDirectory(scratch.Child("nowhere")));
  EXPECT_EQ(kErrorNotFound, MakeDirectoryTree(WideString()));
}

// Beyond the system's limit for a whole path, "mkdir -p" still makes every level whose
// name fits, and fails at the first name that is too long, keeping the levels before it.
TEST(MakeDirectoryTreeTest, LongPathsAreMadeAsTheShellCommandMakesThem) {
  for (bool by_shell : {true, false}) {
    SCOPED_TRACE(by_shell ? "mkdir -p" : "MakeDirectoryTree");
    ScratchDirectory scratch;
    const std::string deep = scratch.MakeDirectoryOfPathLength(4000);
    const std::string rest = std::string(100, 'm') + "/" + std::string(100, 'n');
    const WideString long_path = WideFromAscii(deep + "/" + rest);
    EXPECT_EQ(kSuccess, by_shell ? ShellMakeDirectory(long_path) : MakeDirectoryTree(long_path));
    EXPECT_TRUE(IsDirectoryBelow(deep, rest));

    const std::string too_long_name = std::string(100, 'o') + "/" + std::string(300, 'p');
    const WideString failing = WideFromAscii(deep + "/" + too_long_name + "/q");
    EXPECT_EQ(kErrorNotFound, by_shell ? ShellMakeDirectory(failing) : MakeDirectoryTree(failing));
    EXPECT_TRUE(IsDirectoryBelow(deep, std::string(100, 'o')));
    EXPECT_FALSE(IsDirectoryBelow(deep, too_long_name.substr(0, 200)));
  }
}

TEST(MakeDirectoryTreeTest, ShellCharactersAreJustCharacters) {
  ScratchDirectory scratch;
  const std::string name = "a\"b$(touch X)c/`touch Y`/d\\e";
  EXPECT_EQ(kSuccess, MakeDirectoryTree(scratch.Wide(name)));
  EXPECT_TRUE(IsDirectory(scratch.Child(name)));
  EXPECT_EQ("-", Describe(scratch.Child("X")));
}

// The outcome the installation relied on when it ran "mkdir -p": the same codes and the
// same directories with the same modes, under a usual umask and under one that takes the
// owner's own bits away (mkdir -p still makes the parents usable then).
TEST(MakeDirectoryTreeTest, SameOutcomeAsTheShellCommand) {
  for (mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0377}}) {
    SCOPED_TRACE(mask);
    ScratchDirectory scratch;
    const std::string by_shell = scratch.Child("shell");
    const std::string by_call = scratch.Child("call");
    MakeStartingTree(by_shell);
    MakeStartingTree(by_call);
    UmaskOverride umask_for_test(mask);
    for (const char* relative : kCases) {
      SCOPED_TRACE(relative);
      const ErrorCode shell_code = ShellMakeDirectory(WideFromAscii(by_shell + "/" + relative));
      const ErrorCode call_code = MakeDirectoryTree(WideFromAscii(by_call + "/" + relative));
      EXPECT_EQ(shell_code, call_code);
    }
    for (const char* level : {"new", "a", "a/b", "a/b/c", "trailing", "x", "x/y", "x/z",
                              "dir/under", "file", "dangling", "nowhere", "dir/file2",
                              "sp ace", "sp ace/$(touch X)", "sp ace/$(touch X)/`q`\"\\"}) {
      EXPECT_EQ(Describe(by_shell + "/" + level), Describe(by_call + "/" + level)) << level;
    }
  }
}
