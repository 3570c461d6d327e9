#include "fs/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

namespace {

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = open(scratch_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder_, 0);
  }
  void TearDown() override { close(folder_); }

  // A temporary "temp" holding text, open for writing.
  int Temporary(const std::string& text) {
    const int file = openat(folder_, "temp", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    EXPECT_GE(file, 0);
    EXPECT_EQ(static_cast<ssize_t>(text.size()), write(file, text.data(), text.size()));
    return file;
  }

  ScratchDirectory scratch_;
  int folder_ = -1;
};

TEST_F(ReplaceFileTest, ALinkAtTheNameIsReplacedNotWrittenThrough) {
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("elsewhere"), "theirs"));
  ASSERT_EQ(symlink("elsewhere", scratch_.Child("name").c_str()), 0);
  int error = 0;
  for (const ReplaceDurability durability :
       {ReplaceDurability::kNone, ReplaceDurability::kDataThenFolder}) {
    EXPECT_EQ(ReplaceStep::kDone,
              PutInPlace(folder_, Temporary("new"), "temp", "name", durability, &error));
    struct stat status;
    ASSERT_EQ(lstat(scratch_.Child("name").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ("new", ReadWholeFile(scratch_.Child("name")));
    EXPECT_FALSE(Exists(scratch_.Child("temp")));
  }
  EXPECT_EQ("theirs", ReadWholeFile(scratch_.Child("elsewhere")));
}

TEST_F(ReplaceFileTest, AFailedRenameLeavesNoTemporaryAndTheNameAlone) {
  ASSERT_TRUE(MakeDirectories(scratch_.Child("name/inside")));
  int error = 0;
  EXPECT_EQ(ReplaceStep::kRename, PutInPlace(folder_, Temporary("new"), "temp", "name",
                                             ReplaceDurability::kDataThenFolder, &error));
  EXPECT_EQ(EISDIR, error);
  EXPECT_TRUE(IsDirectory(scratch_.Child("name/inside")));
  EXPECT_FALSE(Exists(scratch_.Child("temp")));
}

}  // namespace
