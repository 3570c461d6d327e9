// Moving one file or link to another path, as the installation's backup does: the file
// being replaced goes into the backup tree, and on a rollback comes back.
//
// The move is rename(2): the file keeps its inode, bytes and times, and a file already at
// the destination is replaced in one step. Only when the two paths lie on different file
// systems (the backup tree is under the temporary directory, which may be a file system of
// its own) does the move go through the shell helper ShellMove ("mv"), which copies across.
//
// Why no shell first: replacing a file costs one move into the backup, and a shell and an
// mv process per file cost milliseconds each, far more than writing a small file. The
// system call gives the same result without a process.

#ifndef FS_MOVE_PATH_H_
#define FS_MOVE_PATH_H_

#include "fs/error_codes.h"
#include "text/wide_string.h"

// Moves from to to (both converted with ToLocaleBytesExact). Returns 0, kErrorNotFound (2)
// when nothing exists at from (or a directory on the way to to is missing), and
// kErrorInvalidParameter (87) for any other failure (a directory at to, a name too long, a
// missing permission, a path that cannot be encoded). Across file systems the result is
// ShellMove's: 0, 2 when mv exits with status 1, 87 otherwise. *ran_shell, when given,
// tells whether the shell was used.
ErrorCode MovePath(const WideString& from, const WideString& to, bool* ran_shell);

#endif  // FS_MOVE_PATH_H_
