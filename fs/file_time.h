// File times: counts of 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, the unit kit
// entries store, and their conversion to and from the system's seconds since 1970. The
// arithmetic is 64-bit on every build, so a 32-bit time type never cuts a stamp.

#ifndef FS_FILE_TIME_H_
#define FS_FILE_TIME_H_

#include <cstdint>

// A count of 100-nanosecond intervals since 1601-01-01 00:00:00 UTC as two 32-bit halves,
// low half first (the layout kit entries store).
struct FileTime {
  uint32_t low;
  uint32_t high;
};

// The whole 64-bit count, and back.
uint64_t FileTimeValue(const FileTime& time);
FileTime FileTimeFromValue(uint64_t value);
// (seconds + 11,644,473,600) * 10,000,000 in 64-bit arithmetic; the system's sub-second
// parts never reach this conversion.
FileTime FileTimeFromSystemSeconds(int64_t seconds);
// file time / 10,000,000 (unsigned division) - 11,644,473,600: whole seconds since
// 1970-01-01 UTC, the fraction dropped.
int64_t SystemSecondsFromFileTime(const FileTime& time);

#endif  // FS_FILE_TIME_H_
