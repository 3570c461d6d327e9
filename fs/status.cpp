#include "fs/status.h"

#include <string.h>

#include "fs/system_error.h"

Status Status::FromErrno(int error_number, const NarrowString& path, ErrorCode code) {
  Status status;
  status.system_error_ = error_number;
  status.code_ = code != kSuccess ? code : ErrorCodeFromErrno(error_number);
  // ErrorCodeFromErrno gives 87 for 0 too, so a failure is never success here.
  if (status.code_ == kSuccess) status.code_ = kErrorInvalidParameter;
  status.path_ = path;
  return status;
}

Status Status::Failure(ErrorCode code, const NarrowString& path, const NarrowString& detail) {
  Status status;
  status.code_ = code != kSuccess ? code : kErrorInvalidParameter;
  status.path_ = path;
  status.detail_ = detail;
  return status;
}

NarrowString Status::Reason() const {
  if (system_error_ != 0) {
    char buffer[256];
    // The GNU strerror_r: thread-safe, and returns the text (in buffer or a static string).
    return NarrowString(strerror_r(system_error_, buffer, sizeof buffer));
  }
  return detail_;
}

NarrowString Status::ErrnoName() const {
  if (system_error_ == 0) return NarrowString();
  const char* name = strerrorname_np(system_error_);
  return name != nullptr ? NarrowString(name) : NarrowString();
}

NarrowString Status::ToString() const {
  NarrowString line = path_;
  const NarrowString reason = Reason();
  if (!reason.Empty()) {
    if (!line.Empty()) line.Append(": ");
    line.Append(reason);
  }
  const NarrowString name = ErrnoName();
  if (!name.Empty()) {
    line.Append(" (");
    line.Append(name);
    line.Append(")");
  }
  return line;
}
