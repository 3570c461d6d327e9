// The program's one list of numeric result codes. File, directory, shell, kit and
// installation operations return one of these as a 32-bit number; 0 is success. The codes
// are never shown to the user: failures reach the user as a message box or the error page.

#ifndef FS_ERROR_CODES_H_
#define FS_ERROR_CODES_H_

#include <cstdint>

using ErrorCode = uint32_t;

enum : ErrorCode {
  kSuccess = 0,
  // A file's size cannot be read (FileSize of the pre-installation checks).
  kErrorSizeUnreadable = 1,
  // Not found; also a directory command that failed and a removal command that failed.
  kErrorNotFound = 2,
  // Path not found: a directory has no parent that could be made.
  kErrorPathNotFound = 3,
  // Invalid handle: no file is open, or the status query of the descriptor failed.
  kErrorInvalidHandle = 6,
  // Invalid data: the kit does not inflate, or its container is damaged.
  kErrorInvalidData = 13,
  // Not supported: the kernel cannot copy between these two files; FileCopyRange copies
  // through a buffer instead, so the code never ends an operation.
  kErrorNotSupported = 50,
  // The disk is full: no room (or no quota) left on the file system written to.
  kErrorDiskFull = 112,
  // Invalid parameter, and every other failure of a system call or of running the shell
  // (no shell, a command ended by a signal).
  kErrorInvalidParameter = 87,
  // Already exists: a directory to be made exists (counts as success).
  kErrorAlreadyExists = 183,
  // Cannot write: no temporary file could be made (no free name, or the exclusive creation
  // of the file failed).
  kErrorCannotWrite = 1013,
  // Cancelled by request.
  kErrorCancelled = 1223,
};

#endif  // FS_ERROR_CODES_H_
