// The program's code for a failed system call, and the last code the handle operations of
// fs/file_handle.h met.
//
// Last error: one value for the whole process, not per thread. Every handle operation except
// FileClose resets it to 0 when it starts, and a failing one sets it to the code it returns.
// It is meaningful only right after a call on the same thread; no lock is taken, and the
// handle operations must not be used by two threads at once.

#ifndef FS_SYSTEM_ERROR_H_
#define FS_SYSTEM_ERROR_H_

#include "fs/error_codes.h"

// The program's one translation of a system error number: kErrorNotFound for ENOENT,
// kErrorDiskFull for ENOSPC and EDQUOT (a full disk must not pass for a damaged kit or a
// bad path), kErrorInvalidParameter for everything else.
ErrorCode ErrorCodeFromErrno(int error_number);

// The last error (see above).
ErrorCode LastErrorCode();
// Sets the last error to code and returns code, so that a failing operation can end with
// "return SetLastErrorCode(code)".
ErrorCode SetLastErrorCode(ErrorCode code);

#endif  // FS_SYSTEM_ERROR_H_
