// Listing the regular files of a directory tree for packing.

#ifndef TOOLS_TREE_WALK_H_
#define TOOLS_TREE_WALK_H_

#include <vector>

#include "text/narrow_string.h"

// Appends to files the path of every regular file below root, relative to root with "/"
// between components, sorted by bytes so that the same tree always packs the same way.
// Symbolic links and other non-regular nodes are not followed or listed; their relative
// paths go to skipped. Returns false, with failure describing why, when a directory cannot
// be read.
bool CollectRegularFiles(const NarrowString& root, std::vector<NarrowString>* files,
                         std::vector<NarrowString>* skipped, NarrowString* failure);

#endif  // TOOLS_TREE_WALK_H_
