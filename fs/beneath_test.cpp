#include "fs/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "gtest/gtest.h"

namespace {

// The folder a walk reached, told by a file only it holds; "" when the walk failed, with
// errno's name after it.
std::string Reached(int root, const char* relative, int flags = O_PATH) {
  const int folder = OpenFolderBeneath(root, NarrowString(relative), flags);
  if (folder < 0) return std::string("failed: ") + std::strerror(errno);
  char mark[32] = {};
  const int file = openat(folder, "mark", O_RDONLY | O_CLOEXEC);
  if (file >= 0) {
    (void)read(file, mark, sizeof mark - 1);
    close(file);
  }
  close(folder);
  return mark;
}

class BeneathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDirectories(scratch_.Child("root/a/b")));
    ASSERT_TRUE(MakeDirectories(scratch_.Child("outside")));
    ASSERT_TRUE(WriteWholeFile(scratch_.Child("root/a/b/mark"), "inside"));
    ASSERT_TRUE(WriteWholeFile(scratch_.Child("outside/mark"), "outside"));
    ASSERT_EQ(symlink(scratch_.Child("outside").c_str(), scratch_.Child("root/a/link").c_str()), 0);
    ASSERT_EQ(symlink("b", scratch_.Child("root/a/relative").c_str()), 0);
    root_ = OpenRootDirectory(scratch_.Child("root").c_str());
    ASSERT_GE(root_, 0);
  }
  void TearDown() override {
    if (root_ >= 0) close(root_);
  }

  ScratchDirectory scratch_;
  int root_ = -1;
};

TEST_F(BeneathTest, WalksRealFoldersAndRefusesEveryLinkAndDotDot) {
  EXPECT_EQ(Reached(root_, "a/b"), "inside");
  EXPECT_EQ(Reached(root_, "./a//b/", 0), "inside");
  // A link at the end or on the way, to outside or to a folder beside it: never followed.
  for (const char* path : {"a/link", "a/link/x", "a/relative", "a/relative/"}) {
    EXPECT_NE(Reached(root_, path), "inside") << path;
    EXPECT_NE(Reached(root_, path), "outside") << path;
    EXPECT_EQ(Reached(root_, path).rfind("failed", 0), 0u) << path;
  }
  EXPECT_EQ(Reached(root_, "a/../../outside"), std::string("failed: ") + std::strerror(EINVAL));
  EXPECT_EQ(Reached(root_, "a/b/mark"), std::string("failed: ") + std::strerror(ENOTDIR));

  const char* name = nullptr;
  const NarrowString through("a/link/mark"), link("a/link");
  EXPECT_LT(OpenParentBeneath(root_, through, &name), 0);
  const int holder = OpenParentBeneath(root_, link, &name);
  ASSERT_GE(holder, 0);
  EXPECT_STREQ(name, "link");
  // The link itself, not what it names.
  NodeIdentity identity;
  mode_t mode = 0;
  ASSERT_TRUE(IdentityAt(holder, name, &identity, &mode));
  EXPECT_TRUE(S_ISLNK(mode));
  close(holder);
}

TEST(StaysBeneathTest, OnlyADotDotNameLeads) {
  for (const char* inside : {"", "a", "...", "a..b/..c", "./a//b/", "a/.../"}) {
    EXPECT_TRUE(StaysBeneath(inside, std::strlen(inside))) << inside;
  }
  for (const char* outside : {"..", "../a", "a/..", "a/../b", "a//../"}) {
    EXPECT_FALSE(StaysBeneath(outside, std::strlen(outside))) << outside;
  }
}

TEST_F(BeneathTest, ADotDotIsRefusedBeforeAnythingIsOpened) {
  EXPECT_EQ(Reached(root_, "missing/../a"), std::string("failed: ") + std::strerror(EINVAL));
  const char* name = nullptr;
  EXPECT_LT(OpenParentBeneath(root_, NarrowString("a/b/.."), &name), 0);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(BeneathTest, ARootThatIsALinkIsRefused) {
  ASSERT_EQ(symlink(scratch_.Child("root").c_str(), scratch_.Child("alias").c_str()), 0);
  EXPECT_LT(OpenRootDirectory(scratch_.Child("alias").c_str()), 0);
  EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << std::strerror(errno);
}

}  // namespace
