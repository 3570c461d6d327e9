// RunLog: the run's records as JSON Lines (--log=FILE): one JSON object per line, appended
// to the file, each written with one write(2) on a descriptor opened for appending, so that
// records of the worker and the user-interface thread, and of two installers logging to one
// file, never mix within a line.
//
// Every record has "time" (UTC, ISO 8601, seconds) and "event". Texts are WideStrings and
// are written as UTF-8; a unit that stands for a byte that did not decode (U+DC80 to
// U+DCFF, text/locale_conversions.h) and any other lone surrogate is written as a \u
// escape, so a reader that decodes with surrogate escapes gets the original bytes back.

#ifndef APP_RUN_LOG_H_
#define APP_RUN_LOG_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "fs/status.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

class RunLog {
 public:
  // One record, built field by field; keys are plain ASCII.
  class Record {
   public:
    explicit Record(const char* event);
    Record& Text(const char* key, const WideString& value);
    // Bytes in the locale's encoding (a path), decoded as FromLocaleBytes does.
    Record& Bytes(const char* key, const NarrowString& value);
    Record& Number(const char* key, int64_t value);
    Record& Flag(const char* key, bool value);
    // The cause of a failure: "path", "reason", "errno" (the name, such as "EACCES") and
    // "errno_number", each only where known, and "code", the program's result code.
    Record& Cause(const Status& cause);
    // The record as one line, ending in a line feed.
    std::string Line() const;

   private:
    void Key(const char* key);
    std::string body_;
  };

  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens path (bytes) for appending, creating it with mode 0600 when it is missing; a path
  // that names something other than a regular file (a FIFO would hold the run) is refused.
  Status Open(const NarrowString& path);
  bool IsOpen() const { return descriptor_ >= 0; }

  // Appends the record; nothing when no log is open. A failed or short write is kept: the
  // first one is what WriteFailure reports.
  void Write(const Record& record);
  // The first write that failed, or success.
  Status WriteFailure() const;

 private:
  int descriptor_ = -1;
  NarrowString path_;
  std::atomic<int> write_error_{0};
};

#endif  // APP_RUN_LOG_H_
