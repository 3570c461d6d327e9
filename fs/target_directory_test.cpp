#include "fs/target_directory.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/text_helpers.h"

static std::string BytesOf(const TargetDirectory& target) {
  return std::string(target.Bytes().Data(), target.Bytes().Length());
}

// The text keeps the channel's rule (a last "/" or "\" counts as a separator); the bytes
// always end in the "/" the run joins names with.
TEST(TargetDirectoryTest, AbsolutePathEndsInOneSeparator) {
  const TargetDirectory plain(WideFromAscii("/srv/t"));
  EXPECT_EQ(plain.Problem(), kSuccess);
  EXPECT_EQ(AsciiOf(plain.Text()), "/srv/t/");
  EXPECT_EQ(BytesOf(plain), "/srv/t/");
  const TargetDirectory slash(WideFromAscii("/srv/t/"));
  EXPECT_EQ(AsciiOf(slash.Text()), "/srv/t/");
  EXPECT_EQ(BytesOf(slash), "/srv/t/");
  const TargetDirectory backslash(WideFromAscii("/srv/t\\"));
  EXPECT_EQ(AsciiOf(backslash.Text()), "/srv/t\\");
  EXPECT_EQ(BytesOf(backslash), "/srv/t\\/");
}

TEST(TargetDirectoryTest, EmptyRelativeOrUnencodablePathHasAProblemAndNoBytes) {
  EXPECT_EQ(TargetDirectory().Problem(), kErrorPathNotFound);
  EXPECT_EQ(TargetDirectory(WideString()).Problem(), kErrorPathNotFound);
  EXPECT_TRUE(TargetDirectory(WideString()).Text().Empty());
  const TargetDirectory relative(WideFromAscii("tmplts"));
  EXPECT_EQ(relative.Problem(), kErrorPathNotFound);
  EXPECT_FALSE(relative.IsAbsolute());
  EXPECT_EQ(AsciiOf(relative.Text()), "tmplts/");
  EXPECT_TRUE(relative.Bytes().Empty());
  // A lone high surrogate has no encoding in any locale; the path stays absolute as text.
  const char16_t units[] = {u'/', u'a', 0xD800, 0};
  const TargetDirectory unencodable{WideString(units)};
  EXPECT_EQ(unencodable.Problem(), kErrorInvalidParameter);
  EXPECT_TRUE(unencodable.IsAbsolute());
  EXPECT_TRUE(unencodable.Bytes().Empty());
}
