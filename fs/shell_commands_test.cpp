#include "fs/shell_commands.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/environment_override.h"
#include "testing/scratch_directory.h"
#include "testing/stand_in_commands.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "testing/working_directory_override.h"
#include "text/locale_conversions.h"

namespace {

// A stand-in body that ends the command's shell with a signal: the shell that system()
// started is killed (whether it waits for the command or became the command itself).
constexpr char kKillTheShell[] =
    "parent=$(cat /proc/$PPID/comm)\n"
    "if [ \"$parent\" = sh ] || [ \"$parent\" = dash ] || [ \"$parent\" = bash ]; then\n"
    "  kill -KILL $PPID\n"
    "fi\n"
    "kill -KILL $$";

// The names that the shell would interpret between double quotes if they were not escaped.
const char* const kShellCharacterNames[] = {
    "a\"b$(touch X)c", "$(touch X)", "`touch X`", "d$HOME", "e\\f", "trailing\\",
    "q\"", "$", "\\\"; touch X; \\\"",
};

TEST(QuoteShellPathTest, EscapesWhatDoubleQuotesLeaveActive) {
  EXPECT_STREQ("\"plain name\"", QuoteShellPath(NarrowString("plain name")).CStr());
  EXPECT_STREQ("\"a\\\"b\\$(x)\\`y\\`\\\\\"",
               QuoteShellPath(NarrowString("a\"b$(x)`y`\\")).CStr());
  EXPECT_STREQ("\"'!*?~\"", QuoteShellPath(NarrowString("'!*?~")).CStr());
  EXPECT_STREQ("\"\"", QuoteShellPath(NarrowString()).CStr());
}

TEST(ShellMakeDirectoryTest, ExistingDirectoryAndNestedPath) {
  ScratchDirectory scratch;
  EXPECT_EQ(kSuccess, ShellMakeDirectory(WideFromAscii(scratch.Path())));
  EXPECT_EQ(kSuccess, ShellMakeDirectory(scratch.Wide("x/y/z")));
  EXPECT_TRUE(IsDirectory(scratch.Child("x/y/z")));
}

TEST(ShellMakeDirectoryTest, BelowARegularFileFails) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "p"));
  EXPECT_EQ(kErrorNotFound, ShellMakeDirectory(scratch.Wide("plain/sub")));
  EXPECT_EQ("p", ReadWholeFile(scratch.Child("plain")));
}

TEST(ShellMakeDirectoryTest, PathWithBlanksIsOneArgument) {
  ScratchDirectory scratch;
  EXPECT_EQ(kSuccess, ShellMakeDirectory(scratch.Wide("two  words/and more")));
  EXPECT_TRUE(IsDirectory(scratch.Child("two  words/and more")));
  EXPECT_EQ((std::vector<std::string>{"two  words"}), ListNames(scratch.Path()));
}

TEST(ShellMakeDirectoryTest, ShellCharactersNameExactlyThatDirectoryAndRunNothing) {
  ScratchDirectory scratch;
  WorkingDirectoryOverride cwd(scratch.Path());
  std::set<std::string> expected;
  for (const char* name : kShellCharacterNames) {
    EXPECT_EQ(kSuccess, ShellMakeDirectory(scratch.Wide(name))) << name;
    EXPECT_TRUE(IsDirectory(scratch.Child(name))) << name;
    expected.insert(name);
  }
  // No "X" and no directory under any other name.
  EXPECT_EQ(std::vector<std::string>(expected.begin(), expected.end()), ListNames(scratch.Path()));
  EXPECT_FALSE(Exists(scratch.Child("X")));
}

TEST(ShellMakeDirectoryTest, KilledCommandIsNoSuccess) {
  ScratchDirectory scratch;
  StandInCommands fake(scratch.Child("fakebin"));
  fake.Add("mkdir", kKillTheShell);
  EXPECT_EQ(kErrorInvalidParameter, ShellMakeDirectory(scratch.Wide("never")));
  EXPECT_FALSE(Exists(scratch.Child("never")));
}

TEST(ShellRemoveTest, MissingPathsAreNoFailure) {
  ScratchDirectory scratch;
  EXPECT_EQ(kSuccess, ShellRemoveFile(scratch.Wide("absent")));
}

TEST(ShellRemoveTest, RemovesAFile) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("a file"), "x"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("keep"), "z"));
  EXPECT_EQ(kSuccess, ShellRemoveFile(scratch.Wide("a file")));
  EXPECT_EQ((std::vector<std::string>{"keep"}), ListNames(scratch.Path()));
}

TEST(ShellRemoveTest, RealFailureIsReported) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("dir").c_str(), 0755));
  // rm -f does not remove a directory and exits with 1.
  EXPECT_EQ(kErrorNotFound, ShellRemoveFile(scratch.Wide("dir")));
  EXPECT_TRUE(IsDirectory(scratch.Child("dir")));
}

TEST(ShellRemoveTest, ShellCharactersRemoveOnlyTheNamedFile) {
  ScratchDirectory scratch;
  WorkingDirectoryOverride cwd(scratch.Path());
  const std::string name = "*";
  ASSERT_TRUE(WriteWholeFile(scratch.Child(name), "star"));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("other"), "o"));
  EXPECT_EQ(kSuccess, ShellRemoveFile(scratch.Wide(name)));
  EXPECT_EQ((std::vector<std::string>{"other"}), ListNames(scratch.Path()));
}

TEST(ShellCreateTempFileTest, CreatesANewEmptyFile) {
  ScratchDirectory scratch;
  EnvironmentOverride tmpdir("TMPDIR", nullptr);
  WideString path;
  const ErrorCode code = ShellCreateTempFile(WideFromAscii(scratch.Path()), u"Tavlo", &path);
  ASSERT_EQ(kSuccess, code);
  const std::string bytes = ToLocaleBytes(path).CStr();
  EXPECT_EQ(scratch.Path() + "/Tavlo", bytes.substr(0, scratch.Path().size() + 6));
  struct stat status;
  ASSERT_EQ(0, lstat(bytes.c_str(), &status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(0, status.st_size);
}

TEST(ShellCreateTempFileTest, FailureHandsBackTheNameTried) {
  ScratchDirectory scratch;
  EnvironmentOverride tmpdir("TMPDIR", nullptr);
  // No one, not even root, can create a file in /proc.
  WideString path;
  const ErrorCode code = ShellCreateTempFile(u"/proc", u"edf", &path);
  EXPECT_EQ(kErrorCannotWrite, code);
  const std::string bytes = ToLocaleBytes(path).CStr();
  EXPECT_EQ("/proc/edf", bytes.substr(0, 9));
  EXPECT_EQ(std::string("/proc/edf").size() + 6, bytes.size());
  EXPECT_FALSE(Exists(bytes));
}

TEST(ShellCreateTempFileTest, NoNameMeansNoFileAndFailure) {
  ScratchDirectory scratch;
  // A directory whose path leaves no room for a name below the system's path limit.
  const std::string deep = scratch.MakeDirectoryOfPathLength(4090);
  EnvironmentOverride tmpdir("TMPDIR", deep.c_str());
  WideString path(u"stale");
  const ErrorCode code = ShellCreateTempFile(u"/tmp", u"edf", &path);
  EXPECT_EQ(kErrorCannotWrite, code);
  EXPECT_TRUE(path.Empty());
}

TEST(ShellRunTest, RunsTheCommandUnchanged) {
  ScratchDirectory scratch;
  WorkingDirectoryOverride cwd(scratch.Path());
  ShellRun(NarrowString("touch ran; exit 4"));
  EXPECT_TRUE(Exists(scratch.Child("ran")));
}

}  // namespace
