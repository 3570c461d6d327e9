// The entries of one directory as the rollback walks them: names with whether each is a
// directory of its own. A symbolic link is never a directory here, whatever it points to,
// and a link that points nowhere is listed like any other entry; a walk over a backup tree
// therefore neither leaves the tree through a link nor stops at a dangling one.

#ifndef INSTALL_TREE_LISTING_H_
#define INSTALL_TREE_LISTING_H_

#include <vector>

#include "fs/error_codes.h"
#include "text/wide_string.h"

struct TreeEntry {
  WideString name;
  bool is_directory;  // a real directory (lstat), not a link to one
};

// Lists directory (with or without a trailing "/") without "." and "..", in the order the
// system delivers the names. Returns 0, or the translated errno when the directory cannot
// be opened (nothing listed) or a read fails (the names read before it stay listed); an
// entry whose status query fails is listed as a non-directory.
ErrorCode ListDirectoryEntries(const WideString& directory, std::vector<TreeEntry>* entries);

#endif  // INSTALL_TREE_LISTING_H_
