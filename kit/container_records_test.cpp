#include "kit/container_records.h"

#include <gtest/gtest.h>

#include "kit/record_cursor.h"
#include "testing/test_files.h"

TEST(RecordCursorTest, CountedStringThatRunsPastTheBufferConsumesNothing) {
  const Bytes bytes{3, 0, 0, 0, 'a', 0, 'b', 0};  // promises 3 units, holds 2
  RecordCursor cursor(bytes.data(), bytes.size());
  WideString text(u"unchanged");
  EXPECT_FALSE(cursor.ReadCountedString(&text));
  EXPECT_EQ(cursor.Position(), 0u);
  EXPECT_TRUE(text == WideString(u"unchanged"));
}

TEST(RecordCursorTest, HugeCountsDoNotWrapAround) {
  // 0x80000000 units are 2^32 bytes: a 32-bit product would wrap to 0 and "fit".
  for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu}) {
    Bytes bytes{0, 0, 0, 0, 'a', 0};
    bytes[0] = count & 0xFF;
    bytes[1] = (count >> 8) & 0xFF;
    bytes[2] = (count >> 16) & 0xFF;
    bytes[3] = count >> 24;
    RecordCursor cursor(bytes.data(), bytes.size());
    WideString text;
    EXPECT_FALSE(cursor.ReadCountedString(&text)) << count;
  }
}

TEST(RecordCursorTest, ReadsUnitsLittleEndianAndExactlyToTheEnd) {
  const Bytes bytes{2, 0, 0, 0, 0x41, 0x04, 0xFF, 0xFF};
  RecordCursor cursor(bytes.data(), bytes.size());
  WideString text;
  ASSERT_TRUE(cursor.ReadCountedString(&text));
  ASSERT_EQ(text.Length(), 2u);
  EXPECT_EQ(text[0], u'\u0441');
  EXPECT_EQ(text[1], u'\uFFFF');
  EXPECT_EQ(cursor.Remaining(), 0u);
  uint32_t value = 0;
  EXPECT_FALSE(cursor.ReadUint32(&value));
}

TEST(ContainerRecordsTest, DescriptionRecordRoundTrips) {
  const KitInfo info{WideString(u"de"), WideString(u"Produkt"), WideString(u""),
                     WideString(u"doc\\x.htm")};
  Bytes record;
  ASSERT_TRUE(AppendDescriptionRecord(info, &record));
  ASSERT_EQ(record.size(), 20u + 2 * (2 + 7 + 0 + 9));
  EXPECT_EQ(record[0], record.size());
  KitInfo parsed;
  const char* field = nullptr;
  ASSERT_TRUE(ParseDescriptionBody(record.data() + 4, record.size() - 4, &parsed, &field));
  EXPECT_TRUE(parsed.language == info.language);
  EXPECT_TRUE(parsed.product == info.product);
  EXPECT_TRUE(parsed.vendor.Empty());
  EXPECT_TRUE(parsed.description == info.description);
}

TEST(ContainerRecordsTest, DescriptionBodyCutShortNamesTheField) {
  const KitInfo info{WideString(u"en"), WideString(u"P"), WideString(u"V"), WideString(u"d")};
  Bytes record;
  ASSERT_TRUE(AppendDescriptionRecord(info, &record));
  const Bytes body(record.begin() + 4, record.end());
  const char* expected[] = {"language code", "product name", "vendor name", "description document"};
  // Cut points inside each of the four strings (count field or units).
  const std::size_t cuts[][2] = {{0, 0},  {7, 0},  {8, 1},  {13, 1},
                                 {14, 2}, {19, 2}, {20, 3}, {25, 3}};
  for (const auto& cut : cuts) {
    KitInfo parsed;
    const char* field = nullptr;
    EXPECT_FALSE(ParseDescriptionBody(body.data(), cut[0], &parsed, &field)) << cut[0];
    ASSERT_NE(field, nullptr);
    EXPECT_STREQ(field, expected[cut[1]]) << cut[0];
  }
  KitInfo parsed;
  const char* field = nullptr;
  EXPECT_TRUE(ParseDescriptionBody(body.data(), body.size(), &parsed, &field));
}

TEST(ContainerRecordsTest, EntryRecordRoundTripsAndSurplusIsIgnored) {
  const KitEntry entry{WideString(u"a\\b"), FileTime{0x11223344, 0x01D5C036}, 1234, 99};
  Bytes record;
  ASSERT_TRUE(AppendEntryRecord(entry, &record));
  ASSERT_EQ(record.size(), 24u + 2 * 3);
  record.insert(record.end(), {9, 9, 9});  // surplus bytes after the last field
  KitEntry parsed;
  const char* field = nullptr;
  ASSERT_TRUE(ParseEntryBody(record.data() + 4, record.size() - 4, &parsed, &field));
  EXPECT_TRUE(parsed.name == entry.name);
  EXPECT_EQ(parsed.time.low, entry.time.low);
  EXPECT_EQ(parsed.time.high, entry.time.high);
  EXPECT_EQ(parsed.offset, 1234u);
  EXPECT_EQ(parsed.size, 99u);
}

TEST(ContainerRecordsTest, EntryBodyCutShortNamesTheField) {
  const KitEntry entry{WideString(u"n"), FileTime{1, 2}, 3, 4};
  Bytes record;
  ASSERT_TRUE(AppendEntryRecord(entry, &record));
  const Bytes body(record.begin() + 4, record.end());  // 4 + 2 + 16 bytes
  const std::pair<std::size_t, const char*> cuts[] = {{3, "name"},
                                                      {5, "name"},
                                                      {9, "modification time (low half)"},
                                                      {13, "modification time (high half)"},
                                                      {17, "data offset"},
                                                      {21, "data size"}};
  for (const auto& cut : cuts) {
    KitEntry parsed;
    const char* field = nullptr;
    EXPECT_FALSE(ParseEntryBody(body.data(), cut.first, &parsed, &field)) << cut.first;
    ASSERT_NE(field, nullptr);
    EXPECT_STREQ(field, cut.second);
  }
}
