#include "tools/file_time_text.h"

#include <cinttypes>
#include <cstdio>

// Seconds between 1601-01-01 and 1970-01-01.
static constexpr int64_t kEpochDifferenceSeconds = 11644473600;
static constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;

// The proleptic Gregorian date of a day count since 1970-01-01.
static void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  *year = static_cast<int64_t>(year_of_era) + era * 400 + (*month <= 2 ? 1 : 0);
}

NarrowString FormatFileTimeUtc(const FileTime& time) {
  const int64_t seconds = SystemSecondsFromFileTime(time);
  int64_t days = seconds / 86400;
  int64_t second_of_day = seconds % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    days -= 1;
  }
  int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  char text[48];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02u-%02u %02u:%02u:%02u", year, month, day,
                static_cast<unsigned>(second_of_day / 3600),
                static_cast<unsigned>(second_of_day / 60 % 60),
                static_cast<unsigned>(second_of_day % 60));
  return NarrowString(text);
}

bool FileTimeFromSecondsChecked(int64_t seconds, FileTime* time) {
  if (seconds < -kEpochDifferenceSeconds) return false;
  // Unsigned: seconds near INT64_MAX must not overflow on the way to the range check.
  const uint64_t since_1601 =
      static_cast<uint64_t>(seconds) + static_cast<uint64_t>(kEpochDifferenceSeconds);
  if (since_1601 > UINT64_MAX / kFileTimeUnitsPerSecond) return false;
  *time = FileTimeFromSystemSeconds(seconds);
  return true;
}
