// Removing a directory tree, or a single file or link, by its bytes: what the installation
// does to the folders it made and to its own work folder, without a shell.
//
// The walk never follows a symbolic link: a link inside the tree is removed as a link, and a
// link named by the path itself is removed, not what it points to. Each directory is opened
// relative to its parent (openat with O_NOFOLLOW), so a link swapped in for a directory while
// the walk runs is not entered either.

#ifndef FS_REMOVE_TREE_H_
#define FS_REMOVE_TREE_H_

#include "fs/error_codes.h"
#include "text/narrow_string.h"

// Removes whatever is at path and, for a directory, everything in it. 0 when nothing is left
// at path, also when nothing was there; otherwise the code of the first failure (the walk
// goes on with the other entries, so as much as possible is removed).
ErrorCode RemoveTree(const NarrowString& path);

// The same for name inside the folder open as parent (a descriptor), never following a link
// at name either.
ErrorCode RemoveTreeAt(int parent, const char* name);

#endif  // FS_REMOVE_TREE_H_
