// Reading a symbolic link's target whole. readlink gives no length up front and cuts a
// target that does not fit without saying so; a result that fills the buffer is therefore
// read again with a larger one, so no caller ever works with a cut target.

#ifndef FS_READ_LINK_H_
#define FS_READ_LINK_H_

#include <cstddef>

#include "text/narrow_string.h"

// No target longer than this is read; the system makes none that long.
constexpr std::size_t kLargestLinkTargetBytes = 65536;

// The target of the symbolic link name in folder (a directory descriptor; AT_FDCWD where name
// is a path). Returns 0 with *target, or the errno of the failed readlinkat (EINVAL when name
// is no link), or ENAMETOOLONG for a target beyond kLargestLinkTargetBytes. *target is
// written only on success.
int ReadLinkAt(int folder, const char* name, NarrowString* target);

#endif  // FS_READ_LINK_H_
