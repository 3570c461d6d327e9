#include "tools/tree_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/scratch_directory.h"
#include "testing/test_files.h"

static std::vector<std::string> Strings(const std::vector<NarrowString>& texts) {
  std::vector<std::string> strings;
  for (const NarrowString& text : texts) strings.push_back(text.CStr());
  return strings;
}

TEST(TreeWalkTest, ListsRegularFilesSortedByBytesAndSkipsLinks) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  const std::string root = scratch.Child("root");
  ASSERT_EQ(mkdir(root.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((root + "/a").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((root + "/a/deep").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((root + "/empty").c_str(), 0700), 0);
  for (const char* name : {"a.txt", "a/b", "a/deep/c", "B", "z"}) {
    ASSERT_TRUE(WriteWholeFile(root + "/" + name, Bytes(3, 'x')));
  }
  ASSERT_EQ(symlink("a.txt", (root + "/link").c_str()), 0);
  ASSERT_EQ(symlink("a", (root + "/dirlink").c_str()), 0);
  std::vector<NarrowString> files, skipped;
  NarrowString failure;
  ASSERT_TRUE(CollectRegularFiles(NarrowString(root.c_str()), &files, &skipped, &failure));
  // "." (0x2E) sorts before "/" (0x2F), upper case before lower case.
  EXPECT_EQ(Strings(files), (std::vector<std::string>{"B", "a.txt", "a/b", "a/deep/c", "z"}));
  EXPECT_EQ(Strings(skipped), (std::vector<std::string>{"dirlink", "link"}));
}

TEST(TreeWalkTest, MissingRootFails) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  std::vector<NarrowString> files, skipped;
  NarrowString failure;
  EXPECT_FALSE(CollectRegularFiles(NarrowString(scratch.Child("missing").c_str()), &files, &skipped,
                                   &failure));
  EXPECT_NE(failure.Find("cannot read the directory"), NarrowString::npos);
}
