#include "fs/read_link.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/scratch_directory.h"

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

}  // namespace
