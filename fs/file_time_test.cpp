#include "fs/file_time.h"

#include "gtest/gtest.h"

namespace {

TEST(FileTimeTest, ConvertsAtTheEpochs) {
  EXPECT_EQ(0, SystemSecondsFromFileTime(FileTimeFromValue(116444736000000000ull)));
  EXPECT_EQ(116444736010000000ull, FileTimeValue(FileTimeFromSystemSeconds(1)));
  EXPECT_EQ(116444736000000000ull, FileTimeValue(FileTimeFromSystemSeconds(0)));
  // The fraction of a second is dropped, not rounded.
  EXPECT_EQ(1, SystemSecondsFromFileTime(FileTimeFromValue(116444736019999999ull)));
}

TEST(FileTimeTest, HalvesAreLowFirst) {
  const FileTime time = FileTimeFromValue(0x0123456789ABCDEFull);
  EXPECT_EQ(0x89ABCDEFu, time.low);
  EXPECT_EQ(0x01234567u, time.high);
  EXPECT_EQ(0x0123456789ABCDEFull, FileTimeValue(time));
}

}  // namespace
