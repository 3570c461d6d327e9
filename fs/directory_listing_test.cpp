#include "fs/directory_listing.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "gtest/gtest.h"

namespace {

std::vector<std::string> Sorted(const std::vector<NarrowString>& names) {
  std::vector<std::string> strings;
  for (const NarrowString& name : names) strings.push_back(name.CStr());
  std::sort(strings.begin(), strings.end());
  return strings;
}

TEST(DirectoryListingTest, ListsEveryNameButTheDotNames) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "f"));
  ASSERT_EQ(0, mkdir(scratch.Child("sub").c_str(), 0755));
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("dangling").c_str()));
  std::vector<NarrowString> names;
  ASSERT_EQ(kSuccess, ListDirectory(NarrowString(scratch.Path().c_str()), &names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"dangling", "file", "sub"}));
}

TEST(DirectoryListingTest, ALinkNamedAsTheDirectoryIsFollowedOnlyWhenAsked) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("real").c_str(), 0755));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("real/inside"), "i"));
  ASSERT_EQ(0, symlink(scratch.Child("real").c_str(), scratch.Child("link").c_str()));
  const NarrowString link(scratch.Child("link").c_str());
  std::vector<NarrowString> names;
  EXPECT_NE(kSuccess, ListDirectory(link, &names));
  EXPECT_TRUE(names.empty());
  ASSERT_EQ(kSuccess, ListDirectory(link, &names, Links::kFollowed));
  EXPECT_EQ(Sorted(names), std::vector<std::string>{"inside"});
}

TEST(DirectoryListingTest, WhatCannotBeOpenedGivesItsCode) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "f"));
  std::vector<NarrowString> names;
  EXPECT_EQ(kErrorNotFound, ListDirectory(NarrowString(scratch.Child("absent").c_str()), &names));
  EXPECT_EQ(kErrorInvalidParameter,
            ListDirectory(NarrowString(scratch.Child("file").c_str()), &names));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_TRUE(names.empty());
}

// A walk opens each directory by its parent's descriptor and removes entries through its
// own; a link in the walk's way is refused there too.
TEST(DirectoryListingTest, OpensRelativeToAnOpenDirectory) {
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("sub").c_str(), 0755));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("sub/file"), "f"));
  ASSERT_EQ(0, symlink("sub", scratch.Child("link").c_str()));
  DirectoryListing parent;
  ASSERT_EQ(kSuccess, parent.Open(NarrowString(scratch.Path().c_str())));
  DirectoryListing link;
  EXPECT_NE(kSuccess, link.OpenAt(parent.Descriptor(), "link"));
  EXPECT_EQ(-1, link.Descriptor());

  DirectoryListing child;
  ASSERT_EQ(kSuccess, child.OpenAt(parent.Descriptor(), "sub"));
  NarrowString name;
  bool at_end = true;
  ASSERT_EQ(kSuccess, child.Next(&name, &at_end));
  ASSERT_FALSE(at_end);
  EXPECT_STREQ(name.CStr(), "file");
  ASSERT_EQ(kSuccess, child.Next(&name, &at_end));
  EXPECT_TRUE(at_end);
  // At the end the descriptor still serves the names read.
  EXPECT_EQ(0, unlinkat(child.Descriptor(), "file", 0));
  child.Close();
  EXPECT_EQ(-1, child.Descriptor());
  EXPECT_FALSE(Exists(scratch.Child("sub/file")));
}

TEST(DirectoryListingTest, AFailedReadIsNotTheEnd) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "f"));
  DirectoryListing listing;
  ASSERT_EQ(kSuccess, listing.Open(NarrowString(scratch.Path().c_str())));
  // The stream's descriptor is made to name something that is no directory before the first
  // read, which then fails.
  const int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_GE(dup2(other, listing.Descriptor()), 0);
  close(other);
  NarrowString name;
  bool at_end = false;
  EXPECT_EQ(kErrorInvalidParameter, listing.Next(&name, &at_end));
  EXPECT_EQ(errno, ENOTDIR);
  std::vector<NarrowString> names;
  EXPECT_EQ(kErrorInvalidParameter, listing.ReadAll(&names));
  EXPECT_TRUE(names.empty());
}

}  // namespace
