#include "fs/system_error.h"

#include <errno.h>

#include <atomic>

namespace {

// The process-wide last error. Only one thread uses the handle operations at a time (the
// checks before the worker starts, the worker during a run); the atomic keeps a hand-over
// between the two well defined without making the value per thread.
std::atomic<ErrorCode> g_last_error{kSuccess};

}  // namespace

ErrorCode ErrorCodeFromErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
      return kErrorNotFound;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    default:
      return kErrorInvalidParameter;
  }
}

ErrorCode LastErrorCode() { return g_last_error.load(std::memory_order_relaxed); }

ErrorCode SetLastErrorCode(ErrorCode code) {
  g_last_error.store(code, std::memory_order_relaxed);
  return code;
}
