#include "fs/read_link.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

namespace {

TEST(ReadLinkTest, ATargetLongerThanTheFirstBufferIsReadWhole) {
  ScratchDirectory scratch;
  std::string target;
  while (target.size() < 3000) target += "folder-name/";
  ASSERT_EQ(symlink(target.c_str(), scratch.Child("long").c_str()), 0);
  NarrowString read;
  ASSERT_EQ(0, ReadLinkAt(AT_FDCWD, scratch.Child("long").c_str(), &read));
  EXPECT_EQ(target, std::string(read.Data(), read.Length()));
}

TEST(ReadLinkTest, WhatIsNoLinkGivesTheSystemsReasonAndLeavesTheTarget) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "x"));
  const int folder = open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  NarrowString read("kept");
  EXPECT_EQ(EINVAL, ReadLinkAt(folder, "file", &read));
  EXPECT_EQ(ENOENT, ReadLinkAt(folder, "missing", &read));
  EXPECT_STREQ("kept", read.CStr());
  close(folder);
}

}  // namespace
