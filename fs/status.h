// Status: the outcome of an operation that can fail, for people as well as for the program:
// the program's result code (fs/error_codes.h), the system error number that caused it (0
// when no system call failed), the path it concerns, and a detail text where the cause is
// no system error (a kit record and field at fault, a check that was not met). A default
// Status is success.
//
// A Status is built where errno is read, right after the failing call, so that the number
// it carries is the one of that call and not of some later clean-up.

#ifndef FS_STATUS_H_
#define FS_STATUS_H_

#include "fs/error_codes.h"
#include "text/narrow_string.h"

class Status {
 public:
  Status() = default;

  // A failed system call: error_number is its errno; code, when 0, is the program's
  // translation of it (ErrorCodeFromErrno of fs/system_error.h).
  static Status FromErrno(int error_number, const NarrowString& path, ErrorCode code = 0);
  // A failure that no system error explains; detail says what was wrong.
  static Status Failure(ErrorCode code, const NarrowString& path, const NarrowString& detail);

  bool ok() const { return code_ == kSuccess; }
  ErrorCode code() const { return code_; }
  int system_error() const { return system_error_; }
  const NarrowString& path() const { return path_; }
  const NarrowString& detail() const { return detail_; }

  // The system's text for the error number (strerror, in the locale's language), else the
  // detail; empty for success.
  NarrowString Reason() const;
  // The error number's symbolic name ("EACCES"), empty when there is none.
  NarrowString ErrnoName() const;
  // One line for people: "PATH: REASON (ENAME)", each part only where it is known.
  NarrowString ToString() const;

 private:
  ErrorCode code_ = kSuccess;
  int system_error_ = 0;
  NarrowString path_;
  NarrowString detail_;
};

#endif  // FS_STATUS_H_
