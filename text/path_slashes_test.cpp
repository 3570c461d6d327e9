#include "text/path_slashes.h"

#include "gtest/gtest.h"
#include "testing/text_helpers.h"

namespace {

std::string Appended(const char* text, bool unless_separator = false) {
  WideString wide = WideFromAscii(text);
  if (unless_separator) {
    AppendSlashUnlessSeparator(&wide);
  } else {
    AppendSlash(&wide);
  }
  return AsciiOf(wide);
}

TEST(PathSlashesTest, AppendSlashEndsAPathWithExactlyOneMore) {
  EXPECT_EQ("/", Appended(""));
  EXPECT_EQ("/t/", Appended("/t"));
  EXPECT_EQ("/t/", Appended("/t/"));
  EXPECT_EQ("/t\\/", Appended("/t\\"));
  // A "\" not yet read as "/" ends a path as well.
  EXPECT_EQ("/t\\", Appended("/t\\", true));
  EXPECT_EQ("/t/", Appended("/t", true));
}

TEST(PathSlashesTest, TrailingSlashesGoButTheRootStays) {
  EXPECT_STREQ("/t", WithoutTrailingSlashes(NarrowString("/t///")).CStr());
  EXPECT_STREQ("/", WithoutTrailingSlashes(NarrowString("///")).CStr());
  EXPECT_STREQ("", WithoutTrailingSlashes(NarrowString("")).CStr());
  EXPECT_EQ("/t", WithoutTrailingSlashes(std::string("/t//")));
  EXPECT_EQ("/", WithoutTrailingSlashes(std::string("/")));
}

}  // namespace
