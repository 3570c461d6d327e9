#include "kit/entry_path.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/locale_override.h"
#include "testing/text_helpers.h"

TEST(EntryPathTest, NameBecomesASlashSeparatedPathOrIsRefusedWithItsReason) {
  EntryPath path;
  EXPECT_EQ(EntryPath::FromName(WideFromAscii("a\\b/c.txt"), &path), nullptr);
  EXPECT_EQ(AsciiOf(path.Text()), "a/b/c.txt");
  // A refused name leaves the path it was to replace.
  EXPECT_STREQ(EntryPath::FromName(WideFromAscii("a\\..\\b"), &path), "has a \"..\" component");
  EXPECT_EQ(AsciiOf(path.Text()), "a/b/c.txt");
}

// The bytes are those of the locale in force when they are asked for, not of the one the
// kit was opened under; a name that locale cannot encode has none.
TEST(EntryPathTest, BytesFollowTheLocaleInForce) {
  LocaleOverride locale("C.UTF-8");
  EntryPath accented;
  EntryPath cyrillic;
  ASSERT_EQ(EntryPath::FromName(WideFromUtf8("caf\xc3\xa9\\x"), &accented), nullptr);
  ASSERT_EQ(EntryPath::FromName(WideFromUtf8("\xd0\xa8.txt"), &cyrillic), nullptr);
  NarrowString bytes;
  ASSERT_TRUE(accented.ToBytes(&bytes));
  EXPECT_EQ(std::string(bytes.CStr()), "caf\xc3\xa9/x");
  locale.Set("de_DE.ISO-8859-1");
  ASSERT_TRUE(accented.ToBytes(&bytes));
  EXPECT_EQ(std::string(bytes.CStr()), "caf\xe9/x");
  EXPECT_FALSE(cyrillic.ToBytes(&bytes));
}
