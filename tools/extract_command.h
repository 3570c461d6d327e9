// efdtool extract: writes every entry of a kit below a directory, as the installer would:
// each entry at the directory + its name with every "\" read as "/", with the entry's bytes,
// stamped with its modification time in whole seconds.
//
// The kit is opened as the installer opens it, so a kit with an unsafe name (see
// kit/entry_name_check.h) is refused before anything is written; each name is checked once
// more before its file is written. Files are written through a ContainedTree
// (tools/contained_tree.h): a symbolic link on the way is refused, never followed, and each
// file appears under its name only once it is complete. Entries are written in kit order; a
// later entry of the same name replaces an earlier one. The first failure ends the command;
// the entries written before it stay.

#ifndef TOOLS_EXTRACT_COMMAND_H_
#define TOOLS_EXTRACT_COMMAND_H_

#include <cstdio>

#include "text/narrow_string.h"

// Reports on out, errors on err. Returns 0, or 1 when the kit does not open, the directory
// cannot be made or opened, or an entry cannot be written in full (name, bytes and time).
int RunExtract(const NarrowString& kit_path, const NarrowString& directory, std::FILE* out,
               std::FILE* err);

#endif  // TOOLS_EXTRACT_COMMAND_H_
