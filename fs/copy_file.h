// Copying one file or symbolic link to a new name, for a move that rename(2) cannot make (the
// two names lie on different file systems).
//
// The copy is made under the new name only: that name is created exclusively (nothing that
// exists there is ever opened, followed or replaced), and a copy that fails on the way is
// removed again, so a partial copy never remains and the source is never touched. The copy
// keeps the source's bytes, permission bits, access and modification times and, where the
// process may set it, its owner and group.

#ifndef FS_COPY_FILE_H_
#define FS_COPY_FILE_H_

#include "fs/error_codes.h"
#include "text/narrow_string.h"

// Copies the regular file or symbolic link at from (not followed) to the new name to.
// Returns 0, or the failing step's code: kErrorNotFound when from is missing, kErrorDiskFull
// when the copy runs out of room, kErrorInvalidParameter for anything else (something exists
// at to, from is a directory, a pipe or a device, a read or write error).
ErrorCode CopyFileExclusively(const NarrowString& from, const NarrowString& to);

#endif  // FS_COPY_FILE_H_
