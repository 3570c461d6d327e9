#include "text/key_value_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "testing/locale_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/locale_conversions.h"

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

class KeyValueFileTest : public ::testing::Test {
 protected:
  Pairs Read(const std::string& content) {
    const std::string path = scratch_.Child("settings.cfg");
    EXPECT_TRUE(WriteWholeFile(path, content));
    Pairs pairs;
    ReadKeyValueFile(FromLocaleBytes(NarrowString(path.c_str())),
                     [&](const WideString& k, const WideString& v) {
                       pairs.emplace_back(U16(k), U16(v));
                     });
    return pairs;
  }

  LocaleOverride locale_{"C.UTF-8"};
  ScratchDirectory scratch_;
};

TEST_F(KeyValueFileTest, SplitsAtFirstEqualsAndKeepsEverythingElse) {
  Pairs p = Read("a=1\n\n=\nkey=x=y\r\n  spaced = v \nalone\nb");
  Pairs expected = {{u"a", u"1"},        {u"key", u"x=y\r"}, {u"  spaced ", u" v "},
                    {u"alone", u""},     {u"b", u""}};
  EXPECT_EQ(p, expected);
}

TEST_F(KeyValueFileTest, EmptyKeyWithValueIsKept) {
  Pairs p = Read("=value\n");
  Pairs expected = {{u"", u"value"}};
  EXPECT_EQ(p, expected);
}

TEST_F(KeyValueFileTest, ByteOrderMarkIsTheFirstUnitOfTheFirstKey) {
  Pairs p = Read("\xef\xbb\xbfkey=v\n");
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].first, u"\ufeffkey");
}

TEST_F(KeyValueFileTest, KeysAndValuesLongerThanTheLineBuffer) {
  std::string key(5000, 'k');
  std::string value(4100, 'v');
  Pairs p = Read(key + "=" + value + "\nnext=1\n");
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].first, std::u16string(5000, u'k'));
  EXPECT_EQ(p[0].second, std::u16string(4100, u'v'));
  EXPECT_EQ(p[1].first, u"next");
}

// Chunks are 1024 bytes: a two-byte character at byte 1023 has one byte in each chunk, a
// three-byte one at 1022 or 1023 likewise.
TEST_F(KeyValueFileTest, CharacterCutByTheChunkBoundaryIsDecodedWhole) {
  for (std::size_t at : {1022u, 1023u}) {
    for (const char* ch : {"\xc3\xb6", "\xe2\x82\xac"}) {
      // A key of at - 1 bytes and "=", so the value starts at byte at.
      std::string content = std::string(at - 1, 'x') + "=" + ch;
      content += "tail\n";
      Pairs p = Read(content);
      ASSERT_EQ(p.size(), 1u);
      std::u16string expected_value = FromLocaleBytes(NarrowString(ch)).Data();
      expected_value += u"tail";
      EXPECT_EQ(p[0].first.size(), at - 1);
      EXPECT_EQ(p[0].second, expected_value) << "character at byte " << at;
    }
  }
}

TEST_F(KeyValueFileTest, InvalidBytesAndZeroBytesDoNotStopTheReading) {
  std::string content = "bad=\xff\xfe\n";
  content += std::string("nul=a\0b\n", 8);
  content += "cut=\xc3\n";
  content += "last=ok";
  Pairs p = Read(content);
  ASSERT_EQ(p.size(), 4u);
  // Each byte that does not decode is kept as its escape, so it can be written back.
  EXPECT_EQ(p[0].second, u"\xdcff\xdcfe");
  EXPECT_EQ(p[1].second, std::u16string(u"a\0b", 3));
  EXPECT_EQ(p[2].second, u"\xdcc3");
  EXPECT_EQ(p[3], (std::pair<std::u16string, std::u16string>(u"last", u"ok")));
}

TEST_F(KeyValueFileTest, TruncatedCharacterAtEndOfFile) {
  Pairs p = Read("k=v\xe2\x82");
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].second, u"v\xdce2\xdc82");
}

TEST_F(KeyValueFileTest, MissingFileGivesNoPairs) {
  Pairs pairs;
  ReadKeyValueFile(WideString(u"/nonexistent/dir/file.cfg"),
                   [&](const WideString&, const WideString&) { pairs.emplace_back(); });
  EXPECT_TRUE(pairs.empty());
}

TEST_F(KeyValueFileTest, ReceiverFailureLeavesDeliveredPairs) {
  const std::string path = scratch_.Child("settings.cfg");
  ASSERT_TRUE(WriteWholeFile(path, "a=1\nb=2\nc=3\n"));
  int seen = 0;
  EXPECT_THROW(ReadKeyValueFile(FromLocaleBytes(NarrowString(path.c_str())),
                                [&](const WideString&, const WideString&) {
                                  if (++seen == 2) throw std::bad_alloc();
                                }),
               std::bad_alloc);
  EXPECT_EQ(seen, 2);
}

}  // namespace
