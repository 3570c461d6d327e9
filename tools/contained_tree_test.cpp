#include "tools/contained_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testing/scratch_directory.h"
#include "testing/test_files.h"

namespace {

// A fill that writes text.
std::function<bool(int, std::string*)> Writing(const std::string& text) {
  return [text](int descriptor, std::string* failure) {
    if (write(descriptor, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
      return true;
    }
    *failure = "short write";
    return false;
  };
}

class ContainedTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.Child("root");
    outside_ = scratch_.Child("outside");
    ASSERT_EQ(mkdir(outside_.c_str(), 0700), 0);
    std::string failure;
    ASSERT_TRUE(tree_.Open(root_ + "/made/too", &failure)) << failure;
    root_ += "/made/too";
  }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  std::string root_;
  std::string outside_;
  ContainedTree tree_;
  std::string failure_;
};

TEST_F(ContainedTreeTest, MakesTheFoldersAndLeavesOnlyTheFile) {
  ASSERT_TRUE(tree_.WriteFile("a//b/c.txt", Writing("hello"), &failure_)) << failure_;
  EXPECT_EQ(ReadWholeFile(root_ + "/a/b/c.txt"), "hello");
  EXPECT_EQ(ListNames(root_ + "/a/b"), std::vector<std::string>{"c.txt"});
  ASSERT_TRUE(tree_.WriteFile("a/b/c.txt", Writing("again"), &failure_)) << failure_;
  EXPECT_EQ(ReadWholeFile(root_ + "/a/b/c.txt"), "again");
}

TEST_F(ContainedTreeTest, ALinkOnTheWayIsRefused) {
  ASSERT_EQ(symlink(outside_.c_str(), (root_ + "/away").c_str()), 0);
  EXPECT_FALSE(tree_.WriteFile("away/file", Writing("x"), &failure_));
  EXPECT_NE(failure_.find("\"away\" is a symbolic link"), std::string::npos) << failure_;
  EXPECT_FALSE(tree_.WriteFile("sub/../../escape", Writing("x"), &failure_));
  EXPECT_TRUE(ListNames(outside_).empty());
  EXPECT_TRUE(ListNames(scratch_.Child("root/made")) == std::vector<std::string>{"too"});
}

TEST_F(ContainedTreeTest, ALinkUnderTheNameIsReplacedNotWrittenThrough) {
  ASSERT_TRUE(WriteWholeFile(outside_ + "/target", Bytes{'o', 'l', 'd'}));
  ASSERT_EQ(symlink((outside_ + "/target").c_str(), (root_ + "/file").c_str()), 0);
  ASSERT_TRUE(tree_.WriteFile("file", Writing("new"), &failure_)) << failure_;
  struct stat status;
  ASSERT_EQ(lstat((root_ + "/file").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(ReadWholeFile(root_ + "/file"), "new");
  EXPECT_EQ(ReadWholeFile(outside_ + "/target"), "old");
}

TEST_F(ContainedTreeTest, AFailedFileLeavesTheOldOneAndNoTemporary) {
  ASSERT_TRUE(tree_.WriteFile("f", Writing("old"), &failure_)) << failure_;
  const auto failing = [](int descriptor, std::string* failure) {
    EXPECT_EQ(write(descriptor, "partial", 7), 7);
    *failure = "the source gave out";
    return false;
  };
  EXPECT_FALSE(tree_.WriteFile("f", failing, &failure_));
  EXPECT_EQ(failure_, "\"f\": the source gave out");
  EXPECT_EQ(ReadWholeFile(root_ + "/f"), "old");
  EXPECT_EQ(ListNames(root_), std::vector<std::string>{"f"});
  // A file where a folder is needed.
  EXPECT_FALSE(tree_.WriteFile("f/g", Writing("x"), &failure_));
  EXPECT_NE(failure_.find("\"f\" is not a folder"), std::string::npos) << failure_;
}

}  // namespace
