// The small path rules the installation's transactions share. Paths are WideStrings with "/"
// as separator.

#ifndef INSTALL_PATH_PARTS_H_
#define INSTALL_PATH_PARTS_H_

#include <sys/stat.h>

#include "text/wide_string.h"

// Exactly one unit, "/".
bool IsRootPath(const WideString& path);

// The text before the last "/" (so for a path ending with "/" the path without that unit).
// False, with *parent untouched, when path holds no "/".
bool ParentPath(const WideString& path, WideString* parent);

// A parent no directory can be made under: exactly two units, the second ":".
bool IsDriveParent(const WideString& parent);

// path without its trailing "/" units; the root stays "/".
WideString WithoutTrailingSlash(const WideString& path);

// lstat64 of path (converted with ToLocaleBytes): 0, or the errno it failed with.
int NodeStatus(const WideString& path, struct stat64* status);

// True when NodeStatus says that nothing at all exists at path (ENOENT, or ENOTDIR: a
// component of the path is not a directory).
bool NothingExistsAt(const WideString& path);

#endif  // INSTALL_PATH_PARTS_H_
