// Making a directory together with its missing parents, as the installation needs it for the
// template tree and for its backup tree.
//
// The outcome is that of the shell helper ShellMakeDirectory ("mkdir -p"): every missing
// level is made, an existing directory (also one reached through a symbolic link) is
// success, and any failure (something other than a directory in the way, a missing
// permission, a name longer than a file name may be) is kErrorNotFound (2). A path longer
// than the system's limit for a whole path is made level by level, as "mkdir -p" makes it.
// New directories get the mode 0777 less the umask; a parent made on the way is in
// addition always writable and searchable by its owner, so that the levels below it can be
// made.
//
// Why no shell: an installation makes one directory chain per new folder of the kit, and
// starting a shell and a mkdir process for each costs milliseconds, far more than the
// files written into it. The system call gives the same result without a process.

#ifndef FS_MAKE_DIRECTORY_H_
#define FS_MAKE_DIRECTORY_H_

#include "fs/error_codes.h"
#include "text/wide_string.h"

// Makes path (converted with ToLocaleBytesExact; trailing "/" units are ignored) and its
// missing parents. 0 when path is a directory afterwards, else kErrorNotFound, also when
// the path cannot be encoded. Levels made before a failure stay. Safe to call from any
// thread: no state is shared.
ErrorCode MakeDirectoryTree(const WideString& path);

// Gives the directory name (relative to the folder descriptor directory, or AT_FDCWD) its
// owner's write and search bits where the umask took them: a level made on the way to a
// deeper one must let the levels below it be made. False when it cannot.
bool KeepUsableAsParent(int directory, const char* name);

#endif  // FS_MAKE_DIRECTORY_H_
