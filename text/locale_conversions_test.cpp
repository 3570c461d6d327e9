#include "text/locale_conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "fs/environment_override.h"

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

// The bytes ToLocaleBytes gives for an o with diaeresis: two under UTF-8, none under POSIX.
std::string UmlautBytes() { return ToLocaleBytes(WideString(u"\u00f6")).CStr(); }

std::string LocaleNow(int category) {
  const char* name = std::setlocale(category, nullptr);
  return name != nullptr ? name : "";
}

// The conversions skip setlocale while nothing it reads has changed; every change of a
// locale variable must still take effect at the very next conversion.
TEST(LocaleConversions, EveryChangeOfTheLocaleVariablesTakesEffectAtOnce) {
  EnvironmentOverride all("LC_ALL", nullptr);
  EnvironmentOverride ctype("LC_CTYPE", nullptr);
  EnvironmentOverride numeric("LC_NUMERIC", nullptr);
  EnvironmentOverride lang("LANG", kUtf8);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  setenv("LANG", kPosix, 1);
  EXPECT_EQ(UmlautBytes(), "");
  setenv("LC_CTYPE", kUtf8, 1);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  setenv("LC_ALL", kPosix, 1);
  EXPECT_EQ(UmlautBytes(), "");
  unsetenv("LC_ALL");
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_TRUE(FromLocaleBytes(NarrowString("\xc3\xb6")).Equals(u"\u00f6"));

  // A category other than the encoding's is set from the environment too.
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kPosix);
  setenv("LC_NUMERIC", kUtf8, 1);
  UmlautBytes();
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kUtf8);
  unsetenv("LC_NUMERIC");
  UmlautBytes();
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kPosix);
}

// A locale set by someone else since the last conversion is replaced by the environment's
// again, as a conversion that always set the locale would do.
TEST(LocaleConversions, ALocaleSetElsewhereIsReplacedAtTheNextConversion) {
  ScopedLocale locale(kUtf8);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  ASSERT_NE(std::setlocale(LC_ALL, kPosix), nullptr);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_EQ(LocaleNow(LC_ALL), kUtf8);
  ASSERT_NE(std::setlocale(LC_CTYPE, kPosix), nullptr);
  EXPECT_TRUE(FromLocaleBytes(NarrowString("\xc3\xb6")).Equals(u"\u00f6"));
  EXPECT_EQ(LocaleNow(LC_CTYPE), kUtf8);
}

// The bytes the library gives for text under the locale in force, character by character.
std::string LibraryBytes(const std::u16string& text) {
  std::string bytes;
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX];
  for (char16_t unit : text) {
    const std::size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(unit), &state);
    if (n == static_cast<std::size_t>(-1)) break;
    bytes.append(buffer, n);
  }
  return bytes;
}

std::u16string LibraryUnits(const std::string& bytes) {
  std::u16string units;
  std::mbstate_t state{};
  for (std::size_t i = 0; i < bytes.size();) {
    wchar_t c;
    const std::size_t n = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) break;
    units.push_back(static_cast<char16_t>(c));
    i += n;
  }
  return units;
}

// ASCII is copied without a library call per character where the encoding maps it to
// itself; the results must be exactly the library's, for every ASCII character and around
// characters that take several bytes or cannot be encoded.
TEST(LocaleConversions, ResultsAreTheLibrarysCharacterByCharacter) {
  std::u16string ascii;
  for (char16_t unit = 1; unit < 0x80; ++unit) ascii.push_back(unit);
  const std::u16string texts[] = {
      ascii,
      u"caf\u00e9 \u20ac 100 \u00f6l " + ascii + u"\ud7ff end",
      u"\u00e9" + ascii + u"\u00e9",
      std::u16string(200, u'a') + u"\u00e9" + std::u16string(70, u'b'),
  };
  for (const char* name : {kPosix, kUtf8}) {
    SCOPED_TRACE(name);
    ScopedLocale locale(name);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
    for (const std::u16string& text : texts) {
      const std::string expected = LibraryBytes(text);
      const NarrowString bytes = ToLocaleBytes(WideString(text.c_str()));
      EXPECT_EQ(std::string(bytes.CStr(), bytes.Length()), expected);
      std::string buffer(expected.size() + 4, '\x7f');
      const std::ptrdiff_t needed =
          WideToLocaleChars(text.c_str(), text.size(), &buffer[0], buffer.size());
      EXPECT_EQ(buffer.substr(0, expected.size()), expected);
      if (needed >= 0) {
        EXPECT_EQ(static_cast<std::size_t>(needed), expected.size());
      }

      const std::u16string units = LibraryUnits(expected);
      const WideString decoded = FromLocaleBytes(NarrowString(expected.c_str()));
      EXPECT_EQ(std::u16string(decoded.Data(), decoded.Length()), units);
    }
    const std::string invalid = "ascii \xc3\xa9 \xff more ascii";
    const WideString decoded = FromLocaleBytes(NarrowString(invalid.c_str()));
    EXPECT_EQ(std::u16string(decoded.Data(), decoded.Length()), LibraryUnits(invalid));
  }
}

}  // namespace
