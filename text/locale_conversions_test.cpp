#include "text/locale_conversions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Conversions take the locale from the environment every time, so each test names the
// locale it runs under and restores the previous one.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) {
    const char* old = std::getenv("LC_ALL");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("LC_ALL", name, 1);
  }
  ~ScopedLocale() {
    if (had_)
      setenv("LC_ALL", old_.c_str(), 1);
    else
      unsetenv("LC_ALL");
  }

 private:
  bool had_ = false;
  std::string old_;
};

const char* const kUtf8 = "C.UTF-8";
const char* const kPosix = "C";

TEST(LocaleConversions, RoundTripUnderUtf8) {
  ScopedLocale locale(kUtf8);
  WideString koeln(u"K\u00f6ln");
  NarrowString bytes = ToLocaleBytes(koeln);
  EXPECT_EQ(bytes.Length(), 5u);
  EXPECT_STREQ(bytes.CStr(), "K\xc3\xb6ln");
  WideString back = FromLocaleBytes(bytes);
  EXPECT_EQ(back.Length(), 4u);
  EXPECT_EQ(back, koeln);

  WideString cyrillic(u"\u0414\u0430\u043b\u0435\u0435 >");  // "Далее >"
  EXPECT_EQ(FromLocaleBytes(ToLocaleBytes(cyrillic)), cyrillic);
}

TEST(LocaleConversions, EmptyAndEmbeddedZeros) {
  ScopedLocale locale(kUtf8);
  EXPECT_EQ(ToLocaleBytes(WideString()).Length(), 0u);
  EXPECT_EQ(FromLocaleBytes(NarrowString()).Length(), 0u);
  const char16_t wide_with_zero[] = {u'a', u'b', 0, u'c'};
  EXPECT_STREQ(ToLocaleBytes(WideString(wide_with_zero, 4)).CStr(), "ab");
  const char bytes_with_zero[] = {'x', 0, 'y'};
  EXPECT_TRUE(FromLocaleBytes(NarrowString(bytes_with_zero, 3)).Equals(u"x"));
}

// Text the encoding cannot hold converts up to the failing character; the low-level calls
// say -1 and still deliver that prefix, never a negative size.
TEST(LocaleConversions, UnencodableTextStopsAtTheFailingCharacter) {
  {
    ScopedLocale locale(kPosix);
    EXPECT_STREQ(ToLocaleBytes(WideString(u"ab\u00f6cd")).CStr(), "ab");
    char buffer[8];
    EXPECT_EQ(WideToLocaleChars(u"ab\u00f6cd", 5, buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_TRUE(FromLocaleBytes(NarrowString("ok\xc3\xb6")).Equals(u"ok"));
  }
  {
    ScopedLocale locale(kUtf8);
    const char16_t lone_surrogate[] = {u'x', 0xD800, u'y', 0};
    EXPECT_STREQ(ToLocaleBytes(WideString(lone_surrogate)).CStr(), "x");
    EXPECT_TRUE(FromLocaleBytes(NarrowString("fine\xff" "after")).Equals(u"fine"));
    EXPECT_TRUE(FromLocaleBytes(NarrowString("cut\xc3")).Equals(u"cut"));  // incomplete
    char16_t units[8];
    EXPECT_EQ(LocaleCharsToWide("ab\xff", 3, units, 8), -1);
  }
}

TEST(LocaleConversions, LowLevelLengthsAndBufferLimits) {
  ScopedLocale locale(kUtf8);
  char small[3];
  // The whole text needs 5 bytes; only 3 fit.
  EXPECT_EQ(WideToLocaleChars(u"K\u00f6ln", 4, small, sizeof small), 5);
  EXPECT_EQ(std::string(small, 3), "K\xc3\xb6");
  EXPECT_EQ(WideToLocaleChars(u"K\u00f6ln", 4, nullptr, 0), 5);
  char16_t units[2];
  EXPECT_EQ(LocaleCharsToWide("K\xc3\xb6ln", 5, units, 2), 4);
  EXPECT_EQ(units[0], u'K');
  EXPECT_EQ(units[1], u'\u00f6');
  EXPECT_EQ(LocaleCharsToWide("K\xc3\xb6ln", 5, nullptr, 0), 4);
  // A character above U+FFFF keeps its low 16 bits.
  char16_t one[1];
  EXPECT_EQ(LocaleCharsToWide("\xf0\x9f\x98\x80", 4, one, 1), 1);
  EXPECT_EQ(one[0], static_cast<char16_t>(0x1F600 & 0xFFFF));
}

TEST(LocaleConversions, CompareNoCaseFoldsAsciiOnly) {
  ScopedLocale locale(kUtf8);
  EXPECT_EQ(CompareNoCase(WideString(u"ConfigurationTemplatesLocation"),
                          WideString(u"configurationtemplateslocation")),
            0);
  EXPECT_NE(CompareNoCase(WideString(u"\u00e9t\u00e9"), WideString(u"\u00c9T\u00c9")), 0);
  EXPECT_LT(CompareNoCase(WideString(u"a"), WideString(u"B")), 0);
  EXPECT_EQ(CompareNoCase(WideString(u"EN"), WideString(u"en")), 0);
}

}  // namespace
