#include "text/locale_conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>

#include "testing/environment_override.h"
#include "testing/locale_override.h"
#include "testing/text_helpers.h"

namespace {

// Conversions take the locale from the environment every time, so each test names the
// locale it runs under (LocaleOverride), which puts the previous one back.
const char* const kUtf8 = "C.UTF-8";
const char* const kPosix = "C";
const char* const kLatin1 = "de_DE.ISO-8859-1";

TEST(LocaleConversions, RoundTripUnderUtf8) {
  LocaleOverride locale(kUtf8);
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

// A zero unit has no place in a path; a message shows it as a replacement rather than
// ending there. Byte strings come from C strings, which end at their first zero byte.
TEST(LocaleConversions, EmptyAndEmbeddedZeros) {
  LocaleOverride locale(kUtf8);
  EXPECT_EQ(ToLocaleBytes(WideString()).Length(), 0u);
  EXPECT_EQ(FromLocaleBytes(NarrowString()).Length(), 0u);
  const char16_t wide_with_zero[] = {u'a', u'b', 0, u'c'};
  EXPECT_EQ(StringOf(ToLocaleBytes(WideString(wide_with_zero, 4))), "ab\xef\xbf\xbd" "c");
  NarrowString exact;
  EXPECT_FALSE(ToLocaleBytesExact(WideString(wide_with_zero, 4), &exact));
  const char bytes_with_zero[] = {'x', 0, 'y'};
  EXPECT_TRUE(FromLocaleBytes(NarrowString(bytes_with_zero, 3)).Equals(u"x"));
}

TEST(LocaleConversions, LowLevelLengthsAndBufferLimits) {
  LocaleOverride locale(kUtf8);
  char small[3];
  // The whole text needs 5 bytes; only 3 fit.
  EXPECT_EQ(WideToLocaleChars(u"K\u00f6ln", 4, small, sizeof small), 5);
  EXPECT_EQ(std::string(small, 3), "K\xc3\xb6");
  EXPECT_EQ(WideToLocaleChars(u"K\u00f6ln", 4, nullptr, 0), 5);
  EXPECT_EQ(WideToLocaleChars(u"a\xd800", 2, nullptr, 0), -1);
  char16_t units[2];
  EXPECT_EQ(LocaleCharsToWide("K\xc3\xb6ln", 5, units, 2), 4);
  EXPECT_EQ(units[0], u'K');
  EXPECT_EQ(units[1], u'\u00f6');
  EXPECT_EQ(LocaleCharsToWide("K\xc3\xb6ln", 5, nullptr, 0), 4);
  char16_t pair[2];
  EXPECT_EQ(LocaleCharsToWide("\xf0\x9f\x98\x80", 4, pair, 2), 2);
  EXPECT_EQ(pair[0], 0xD83D);
  EXPECT_EQ(pair[1], 0xDE00);
}

// A character cut by a chunk's end waits for the next chunk; at the end of the stream its
// bytes are escapes. A zero byte is a unit like any other.
TEST(LocaleConversions, ChunksJoinCharactersAndEscapeWhatEndsCut) {
  LocaleOverride locale(kUtf8);
  char16_t out[8];
  std::size_t consumed = 0;
  EXPECT_EQ(DecodeLocaleChunk("a\xc3", 2, false, out, &consumed), 1u);
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(DecodeLocaleChunk("a\xc3", 2, true, out, &consumed), 2u);
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(out[1], 0xDCC3);
  EXPECT_EQ(DecodeLocaleChunk("\xc3\xb6\0\xfe", 4, true, out, &consumed), 3u);
  EXPECT_EQ(std::u16string(out, 3), std::u16string(u"\u00f6\0\xdcfe", 3));
}

// Random byte strings and random UTF-16 texts, under an ASCII, a UTF-8 and a Latin-1
// locale: bytes always come back as themselves; a text comes back unless it holds escapes
// (which may join into a character); a text fails the exact conversion exactly when it
// holds a unit the encoding lacks; a message never leaves a unit out.
std::string Utf8Of(char32_t c) {
  const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  std::string bytes(n, '\0');
  for (int k = n - 1; k > 0; --k, c >>= 6) bytes[k] = static_cast<char>(0x80 | (c & 0x3F));
  static const unsigned char kLead[] = {0, 0x00, 0xC0, 0xE0, 0xF0};
  bytes[0] = static_cast<char>(kLead[n] | c);
  return bytes;
}

class RoundTripProperty : public ::testing::TestWithParam<const char*> {
 protected:
  std::mt19937 random_{20240611};

  unsigned Pick(unsigned below) {
    return std::uniform_int_distribution<unsigned>(0, below - 1)(random_);
  }

  std::string RandomBytes() {
    std::string bytes;
    const unsigned length = Pick(24);
    while (bytes.size() < length) {
      switch (Pick(4)) {
        case 0:
          bytes.push_back(static_cast<char>(1 + Pick(0x7F)));
          break;
        case 1:
          bytes.push_back(static_cast<char>(0x80 + Pick(0x80)));
          break;
        default: {  // a well-formed character, now and then cut short
          char32_t c = 0x80 + Pick(0x10FF80);
          if (c >= 0xD800 && c <= 0xDFFF) c = 0xE000;
          std::string encoded = Utf8Of(c);
          if (Pick(5) == 0) encoded.pop_back();
          bytes += encoded;
        }
      }
    }
    return bytes;
  }

  std::u16string RandomText() {
    std::u16string text;
    const unsigned length = Pick(16);
    while (text.size() < length) {
      switch (Pick(6)) {
        case 0:
          text.push_back(static_cast<char16_t>(1 + Pick(0x7F)));
          break;
        case 1:
          text.push_back(static_cast<char16_t>(0x80 + Pick(0x180)));  // Latin-1 and beyond
          break;
        case 2: {
          char16_t unit = static_cast<char16_t>(0x100 + Pick(0xFF00));
          if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0x0416;
          text.push_back(unit);
          break;
        }
        case 3: {  // a character outside the Basic Multilingual Plane
          const unsigned c = Pick(0x100000);  // its distance from U+10000
          text.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
          text.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
          break;
        }
        case 4:
          text.push_back(static_cast<char16_t>(0xDC80 + Pick(0x80)));  // an escape
          break;
        default:
          text.push_back(static_cast<char16_t>(0xD800 + Pick(0x800)));  // any lone surrogate
      }
    }
    return text;
  }
};

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

TEST_P(RoundTripProperty, BytesAndTextsSurviveBothDirections) {
  LocaleOverride locale(GetParam());
  ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr) << GetParam() << " is not installed";
  const bool latin1 = std::string(GetParam()) == kLatin1;
  const std::u16string replacement = latin1 ? u"?" : u"\ufffd";
  for (int round = 0; round < 3000; ++round) {
    const std::string bytes = RandomBytes();
    SCOPED_TRACE(testing::Message() << "round " << round);
    const WideString decoded = FromLocaleBytes(NarrowString(bytes.data(), bytes.size()));
    NarrowString again;
    ASSERT_TRUE(ToLocaleBytesExact(decoded, &again));
    ASSERT_EQ(StringOf(again), bytes);
    // Read in two chunks, split anywhere, the bytes decode to the same units.
    const std::size_t split = Pick(static_cast<unsigned>(bytes.size()) + 1);
    std::u16string chunked(bytes.size(), u'\0');
    std::size_t consumed = 0;
    std::size_t units = DecodeLocaleChunk(bytes.data(), split, false, &chunked[0], &consumed);
    const std::string rest = bytes.substr(consumed);
    units += DecodeLocaleChunk(rest.data(), rest.size(), true, &chunked[units], &consumed);
    chunked.resize(units);
    ASSERT_EQ(chunked, U16(decoded));

    const std::u16string text = RandomText();
    std::u16string expected_message;
    bool encodable = true, holds_escapes = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t unit = text[i];
      const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
                        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      const bool escape = unit >= 0xDC80 && unit <= 0xDCFF;
      const bool fits =
          pair ? !latin1 : escape || (!IsSurrogate(unit) && (!latin1 || unit <= 0xFF));
      encodable = encodable && fits;
      holds_escapes = holds_escapes || escape;
      if (pair) {
        expected_message += latin1 ? u"?" : text.substr(i, 2);
        ++i;
      } else {
        expected_message += fits && !escape ? std::u16string(1, unit) : replacement;
      }
    }
    const WideString wide(text.data(), text.size());
    NarrowString exact;
    ASSERT_EQ(ToLocaleBytesExact(wide, &exact), encodable);
    if (encodable) {
      const WideString back = FromLocaleBytes(exact);
      NarrowString twice;
      ASSERT_TRUE(ToLocaleBytesExact(back, &twice));
      ASSERT_EQ(StringOf(twice), StringOf(exact));
      if (!holds_escapes) {
        ASSERT_EQ(U16(back), text);
      }
    }
    ASSERT_EQ(U16(FromLocaleBytes(ToLocaleBytes(wide))), expected_message)
        << testing::PrintToString(text);
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, RoundTripProperty, ::testing::Values(kPosix, kUtf8, kLatin1));

TEST(LocaleConversions, CompareNoCaseFoldsAsciiOnly) {
  LocaleOverride locale(kUtf8);
  EXPECT_EQ(CompareNoCase(WideString(u"ConfigurationTemplatesLocation"),
                          WideString(u"configurationtemplateslocation")),
            0);
  EXPECT_NE(CompareNoCase(WideString(u"\u00e9t\u00e9"), WideString(u"\u00c9T\u00c9")), 0);
  EXPECT_LT(CompareNoCase(WideString(u"a"), WideString(u"B")), 0);
  EXPECT_EQ(CompareNoCase(WideString(u"EN"), WideString(u"en")), 0);
  // Values that differ only in a byte that does not decode stay apart.
  const WideString lower_ff = FromLocaleBytes(NarrowString("a\xff"));
  const WideString upper_ff = FromLocaleBytes(NarrowString("A\xff"));
  const WideString lower_fe = FromLocaleBytes(NarrowString("a\xfe"));
  EXPECT_NE(CompareNoCase(lower_ff, lower_fe), 0);
  EXPECT_NE(FoldCaseKey(lower_ff), FoldCaseKey(lower_fe));
  EXPECT_EQ(CompareNoCase(upper_ff, lower_ff), 0);
}

// The bytes ToLocaleBytes gives for an o with diaeresis: two under UTF-8 (and the POSIX
// locale), one under Latin-1.
std::string UmlautBytes() { return ToLocaleBytes(WideString(u"\u00f6")).CStr(); }

std::string LocaleNow(int category) {
  const char* name = std::setlocale(category, nullptr);
  return name != nullptr ? name : "";
}

// The conversions skip setlocale while nothing it reads has changed; every change of a
// locale variable must still take effect at the very next conversion.
TEST(LocaleConversions, EveryChangeOfTheLocaleVariablesTakesEffectAtOnce) {
  LocaleOverride all(nullptr);
  EnvironmentOverride ctype("LC_CTYPE", nullptr);
  EnvironmentOverride numeric("LC_NUMERIC", nullptr);
  EnvironmentOverride lang("LANG", kUtf8);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  setenv("LANG", kLatin1, 1);
  EXPECT_EQ(UmlautBytes(), "\xf6");
  setenv("LC_CTYPE", kUtf8, 1);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  all.Set(kLatin1);
  EXPECT_EQ(UmlautBytes(), "\xf6");
  all.Set(nullptr);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_TRUE(FromLocaleBytes(NarrowString("\xc3\xb6")).Equals(u"\u00f6"));

  // A category other than the encoding's is set from the environment too.
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kLatin1);
  setenv("LC_NUMERIC", kUtf8, 1);
  UmlautBytes();
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kUtf8);
  unsetenv("LC_NUMERIC");
  UmlautBytes();
  EXPECT_EQ(LocaleNow(LC_NUMERIC), kLatin1);
}

// A locale set by someone else since the last conversion is replaced by the environment's
// again, as a conversion that always set the locale would do.
TEST(LocaleConversions, ALocaleSetElsewhereIsReplacedAtTheNextConversion) {
  LocaleOverride locale(kUtf8);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  ASSERT_NE(std::setlocale(LC_ALL, kLatin1), nullptr);
  EXPECT_EQ(UmlautBytes(), "\xc3\xb6");
  EXPECT_EQ(LocaleNow(LC_ALL), kUtf8);
  ASSERT_NE(std::setlocale(LC_CTYPE, kLatin1), nullptr);
  EXPECT_TRUE(FromLocaleBytes(NarrowString("\xc3\xb6")).Equals(u"\u00f6"));
  EXPECT_EQ(LocaleNow(LC_CTYPE), kUtf8);
}

// The bytes the library gives for text under the locale in force, character by character;
// false when it cannot encode one.
bool LibraryBytes(const std::u16string& text, std::string* bytes) {
  bytes->clear();
  std::mbstate_t state{};
  char buffer[MB_LEN_MAX];
  for (char16_t unit : text) {
    const std::size_t n = std::wcrtomb(buffer, static_cast<wchar_t>(unit), &state);
    if (n == static_cast<std::size_t>(-1)) return false;
    bytes->append(buffer, n);
  }
  return true;
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

// ASCII is copied without a library call per character, and UTF-8 is converted by rules of
// its own; for text of the Basic Multilingual Plane the results must be exactly the
// library's, for every ASCII character and around characters that take several bytes or
// cannot be encoded.
TEST(LocaleConversions, ResultsAreTheLibrarysCharacterByCharacter) {
  std::u16string ascii;
  for (char16_t unit = 1; unit < 0x80; ++unit) ascii.push_back(unit);
  const std::u16string texts[] = {
      ascii,
      u"caf\u00e9 \u20ac 100 \u00f6l " + ascii + u"\ud7ff end",
      u"\u00e9" + ascii + u"\u00e9",
      std::u16string(200, u'a') + u"\u00e9" + std::u16string(70, u'b'),
  };
  for (const char* name : {kLatin1, kUtf8}) {
    SCOPED_TRACE(name);
    LocaleOverride locale(name);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
    for (const std::u16string& text : texts) {
      std::string expected;
      const bool encodable = LibraryBytes(text, &expected);
      NarrowString bytes;
      EXPECT_EQ(ToLocaleBytesExact(WideString(text.c_str()), &bytes), encodable);
      std::string buffer(text.size() * 4 + 4, '\x7f');
      const std::ptrdiff_t needed =
          WideToLocaleChars(text.c_str(), text.size(), &buffer[0], buffer.size());
      EXPECT_EQ(buffer.substr(0, expected.size()), expected);
      if (!encodable) {
        EXPECT_EQ(needed, -1);
        continue;
      }
      EXPECT_EQ(StringOf(bytes), expected);
      EXPECT_EQ(needed, static_cast<std::ptrdiff_t>(expected.size()));
      EXPECT_EQ(U16(FromLocaleBytes(NarrowString(expected.c_str()))), LibraryUnits(expected));
    }
  }
}

}  // namespace
