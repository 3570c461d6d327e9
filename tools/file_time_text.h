// File times as people read them: "YYYY-MM-DD hh:mm:ss" in UTC.

#ifndef TOOLS_FILE_TIME_TEXT_H_
#define TOOLS_FILE_TIME_TEXT_H_

#include <cstdint>

#include "fs/file_time.h"
#include "text/narrow_string.h"

// The time in whole seconds (the fraction dropped), computed without the system's time
// type, so that every file time (1601 to about 60056) prints the same on 32-bit builds.
NarrowString FormatFileTimeUtc(const FileTime& time);

// The file time of whole system seconds; false for a time before 1601-01-01 00:00:00 UTC,
// which a file time cannot hold.
bool FileTimeFromSecondsChecked(int64_t seconds, FileTime* time);

#endif  // TOOLS_FILE_TIME_TEXT_H_
