#include "fs/temp_file.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/environment_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

TEST(TempFileTest, DirectoryRule) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("env").c_str(), 0755));
  ASSERT_EQ(0, mkdir(scratch.Child("given").c_str(), 0755));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "p"));
  const NarrowString given(scratch.Child("given").c_str());
  const NarrowString missing(scratch.Child("missing").c_str());
  NarrowString chosen;
  {
    EnvironmentOverride tmpdir("TMPDIR", scratch.Child("env").c_str());
    ASSERT_TRUE(ChooseTempDirectory(given, &chosen));
    EXPECT_EQ(scratch.Child("env"), StringOf(chosen));
  }
  {
    // TMPDIR naming something that is not a directory is passed over.
    EnvironmentOverride tmpdir("TMPDIR", scratch.Child("plain").c_str());
    ASSERT_TRUE(ChooseTempDirectory(given, &chosen));
    EXPECT_EQ(scratch.Child("given"), StringOf(chosen));
  }
  {
    EnvironmentOverride tmpdir("TMPDIR", nullptr);
    ASSERT_TRUE(ChooseTempDirectory(missing, &chosen));
    EXPECT_EQ(std::string(P_tmpdir), StringOf(chosen));
    ASSERT_TRUE(ChooseTempDirectory(NarrowString(), &chosen));
    EXPECT_EQ(std::string(P_tmpdir), StringOf(chosen));
  }
}

TEST(TempFileTest, NameIsDirectoryPrefixAndSixRandomCharacters) {
  ScratchDirectory scratch;
  EnvironmentOverride tmpdir("TMPDIR", nullptr);
  NarrowString name;
  const std::string with_slashes = scratch.Path() + "//";
  ASSERT_TRUE(MakeTempName(NarrowString(with_slashes.c_str()), NarrowString("Tavlo5x"), &name));
  const std::string text = StringOf(name);
  const std::string head = scratch.Path() + "/Tavlo";
  ASSERT_EQ(head.size() + 6, text.size());
  EXPECT_EQ(head, text.substr(0, head.size()));
  for (char c : text.substr(head.size())) EXPECT_TRUE(isalnum(static_cast<unsigned char>(c)));
  EXPECT_FALSE(IsRegularFile(text));  // a name only; nothing is created

  ASSERT_TRUE(MakeTempName(NarrowString(scratch.Path().c_str()), NarrowString(), &name));
  EXPECT_EQ(scratch.Path() + "/file", StringOf(name).substr(0, scratch.Path().size() + 5));
}

TEST(TempFileTest, ExclusiveCreationMakesAnEmptyPrivateFile) {
  ScratchDirectory scratch;
  const std::string path = scratch.Child("new");
  EXPECT_EQ(0, CreateFileExclusively(NarrowString(path.c_str())));
  struct stat status;
  ASSERT_EQ(0, lstat(path.c_str(), &status));
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(0, status.st_size);
  EXPECT_EQ(0u, status.st_mode & 077u);
}

TEST(TempFileTest, ExclusiveCreationNeverReusesAFile) {
  ScratchDirectory scratch;
  const std::string path = scratch.Child("planted");
  ASSERT_TRUE(WriteWholeFile(path, "planted contents"));
  EXPECT_EQ(EEXIST, CreateFileExclusively(NarrowString(path.c_str())));
  EXPECT_EQ("planted contents", ReadWholeFile(path));
}

TEST(TempFileTest, ExclusiveCreationNeverFollowsALink) {
  ScratchDirectory scratch;
  const std::string target = scratch.Child("victim");
  const std::string link = scratch.Child("link");
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  // A dangling link: following it would create the victim.
  EXPECT_EQ(EEXIST, CreateFileExclusively(NarrowString(link.c_str())));
  EXPECT_FALSE(IsRegularFile(target));

  ASSERT_TRUE(WriteWholeFile(target, "victim contents"));
  EXPECT_EQ(EEXIST, CreateFileExclusively(NarrowString(link.c_str())));
  EXPECT_EQ("victim contents", ReadWholeFile(target));
}

TEST(TempFileTest, CreatesAFreshFileInTheChosenDirectory) {
  ScratchDirectory scratch;
  EnvironmentOverride tmpdir("TMPDIR", nullptr);
  NarrowString first;
  NarrowString second;
  ASSERT_EQ(kSuccess, CreateTempFile(NarrowString(scratch.Path().c_str()), NarrowString("edf"),
                                     &first));
  ASSERT_EQ(kSuccess, CreateTempFile(NarrowString(scratch.Path().c_str()), NarrowString("edf"),
                                     &second));
  EXPECT_NE(StringOf(first), StringOf(second));
  EXPECT_EQ(scratch.Path() + "/edf", StringOf(first).substr(0, scratch.Path().size() + 4));
  EXPECT_TRUE(IsRegularFile(StringOf(first)));
  EXPECT_TRUE(IsRegularFile(StringOf(second)));
}

}  // namespace
