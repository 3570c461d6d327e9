#include "tools/file_time_text.h"

#include <gtest/gtest.h>

static std::string Text(uint64_t value) {
  return FormatFileTimeUtc(FileTimeFromValue(value)).CStr();
}

TEST(FileTimeTextTest, FormatsInUtc) {
  EXPECT_EQ(Text(132223104000000000ull), "2020-01-01 00:00:00");
  EXPECT_EQ(Text(132223104009999999ull), "2020-01-01 00:00:00");  // fraction dropped
  EXPECT_EQ(Text(116444736000000000ull), "1970-01-01 00:00:00");
  EXPECT_EQ(Text(116444735990000000ull), "1969-12-31 23:59:59");
  EXPECT_EQ(Text(0), "1601-01-01 00:00:00");
  // 2024-02-29 12:34:56 UTC, a leap day.
  EXPECT_EQ(Text((1709210096ull + 11644473600ull) * 10000000ull), "2024-02-29 12:34:56");
  // 2100 is no leap year: 2100-03-01 00:00:00 follows 2100-02-28.
  EXPECT_EQ(Text((4107542400ull + 11644473600ull) * 10000000ull), "2100-03-01 00:00:00");
  EXPECT_EQ(Text(UINT64_MAX), "60056-05-28 05:36:10");
}

TEST(FileTimeTextTest, SecondsBefore1601CannotBeAFileTime) {
  FileTime time{1, 1};
  EXPECT_FALSE(FileTimeFromSecondsChecked(-11644473601, &time));
  EXPECT_EQ(time.low, 1u);
  ASSERT_TRUE(FileTimeFromSecondsChecked(-11644473600, &time));
  EXPECT_EQ(FileTimeValue(time), 0u);
  ASSERT_TRUE(FileTimeFromSecondsChecked(1577836800, &time));
  EXPECT_EQ(FileTimeValue(time), 132223104000000000ull);
  EXPECT_FALSE(FileTimeFromSecondsChecked(INT64_MAX, &time));
}
