#include "fs/file_time.h"

namespace {

constexpr uint64_t kIntervalsPerSecond = 10000000u;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600u;

}  // namespace

uint64_t FileTimeValue(const FileTime& time) {
  return (static_cast<uint64_t>(time.high) << 32) | time.low;
}

FileTime FileTimeFromValue(uint64_t value) {
  return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

FileTime FileTimeFromSystemSeconds(int64_t seconds) {
  // Unsigned arithmetic: the same bits as the signed formula, without overflow.
  return FileTimeFromValue((static_cast<uint64_t>(seconds) + kEpochDifferenceSeconds) *
                           kIntervalsPerSecond);
}

int64_t SystemSecondsFromFileTime(const FileTime& time) {
  return static_cast<int64_t>(FileTimeValue(time) / kIntervalsPerSecond) -
         static_cast<int64_t>(kEpochDifferenceSeconds);
}
