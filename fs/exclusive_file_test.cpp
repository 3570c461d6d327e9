#include "fs/exclusive_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

namespace {

// Proposes "n0", "n1", ... and counts the proposals.
ExclusiveNameProposal Numbered(int* proposals) {
  return [proposals](int attempt, NarrowString* name) {
    ++*proposals;
    *name = NarrowString(("n" + std::to_string(attempt)).c_str());
    return true;
  };
}

TEST(ExclusiveFileTest, ATakenNameIsPassedOverAndNeverFollowed) {
  ScratchDirectory scratch;
  const int folder = open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  // A dangling link at the first name would make a file wherever it points if followed.
  ASSERT_EQ(symlink(scratch.Child("planted").c_str(), scratch.Child("n0").c_str()), 0);
  int proposals = 0;
  NarrowString name;
  const int file = CreateExclusiveFile(folder, Numbered(&proposals), O_WRONLY, 0600, &name);
  ASSERT_GE(file, 0);
  close(file);
  EXPECT_STREQ("n1", name.CStr());
  EXPECT_EQ(2, proposals);
  EXPECT_FALSE(Exists(scratch.Child("planted")));
  struct stat status;
  ASSERT_EQ(lstat(scratch.Child("n1").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(0600u, status.st_mode & 0777);
  close(folder);
}

TEST(ExclusiveFileTest, GivesUpWithEexistWhenNoNameIsFree) {
  ScratchDirectory scratch;
  const int folder = open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  NarrowString name;
  int proposals = 0;
  const ExclusiveNameProposal always_taken = [&proposals](int, NarrowString* proposal) {
    ++proposals;
    *proposal = NarrowString(".");
    return true;
  };
  EXPECT_EQ(-1, CreateExclusiveFile(folder, always_taken, O_WRONLY, 0600, &name));
  EXPECT_EQ(EEXIST, errno);
  EXPECT_EQ(kExclusiveNameAttempts, proposals);
  EXPECT_TRUE(ListNames(scratch.Path()).empty());
  close(folder);
}

}  // namespace
