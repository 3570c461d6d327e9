#include "kit/entry_name_check.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/locale_override.h"

static bool Safe(const WideString& name) { return UnsafeEntryNameReason(name) == nullptr; }

TEST(EntryNameCheckTest, RelativeNamesBelowTheDirectoryAreSafe) {
  for (const char16_t* name :
       {u"a", u"a\\b.txt", u"a/b/c", u"...", u"..a", u"a..", u".\\x", u"a\\.\\b", u"a//b"}) {
    EXPECT_TRUE(Safe(WideString(name)));
  }
}

TEST(EntryNameCheckTest, NamesThatLeaveTheDirectoryOrNameNoFileAreUnsafe) {
  for (const char16_t* name : {u"", u"/etc/passwd", u"\\etc\\passwd", u"a/", u"a\\", u"..",
                               u"..\\x", u"../x", u"a\\..\\..\\b", u"a/..", u"x\\..", u"a\\../b"}) {
    EXPECT_FALSE(Safe(WideString(name))) << static_cast<int>(WideString(name).Length());
  }
}

TEST(EntryNameCheckTest, ZeroUnitMakesANameUnsafe) {
  const char16_t units[] = {u'.', u'.', 0, u'x'};
  EXPECT_FALSE(Safe(WideString(units, 4)));
  const char16_t plain[] = {u'a', 0, u'b'};
  EXPECT_STREQ(UnsafeEntryNameReason(WideString(plain, 3)), "holds a zero unit");
}

TEST(EntryNameCheckTest, ReasonsNameTheRule) {
  EXPECT_STREQ(UnsafeEntryNameReason(WideString(u"")), "is empty");
  EXPECT_STREQ(UnsafeEntryNameReason(WideString(u"a\\..\\b")), "has a \"..\" component");
  EXPECT_STREQ(UnsafeEntryNameReason(WideString(u"\\a")), "is absolute (starts with a separator)");
  EXPECT_STREQ(UnsafeEntryNameReason(WideString(u"a/")), "ends with a separator");
}

// A name the locale cannot encode would be written under another name, or not at all.
TEST(EntryNameCheckTest, NameTheLocaleCannotEncodeIsUnsafe) {
  const WideString cyrillic(u"\u0428\u0430\u0431\u043b\u043e\u043d.txt");  // "Шаблон.txt"
  {
    LocaleOverride locale("de_DE.ISO-8859-1");
    EXPECT_STREQ(UnsafeEntryNameReason(cyrillic), "cannot be encoded in the locale's encoding");
    EXPECT_TRUE(Safe(WideString(u"caf\u00e9.txt")));
  }
  {
    LocaleOverride locale("C.UTF-8");
    EXPECT_TRUE(Safe(cyrillic));
    const char16_t lone_surrogate[] = {u'a', 0xD800, u'.', u't', 0};
    EXPECT_STREQ(UnsafeEntryNameReason(WideString(lone_surrogate)),
                 "cannot be encoded in the locale's encoding");
  }
}
