// efdtool pack: makes a kit from a directory tree.

#ifndef TOOLS_PACK_COMMAND_H_
#define TOOLS_PACK_COMMAND_H_

#include <cstdio>
#include <vector>

#include "text/narrow_string.h"

struct PackOptions {
  bool single_description = false;         // --layout-a
  std::vector<NarrowString> descriptions;  // each LANG:PRODUCT:VENDOR:DOCUMENT
  bool sign = false;                       // --sign
  NarrowString secret_key_path;            // its secret key file
  NarrowString kit_path;
  NarrowString directory;
};

// Packs every regular file below options.directory (sorted by path) into the kit at
// options.kit_path: names relative to the directory with "\" between components, times the
// files' modification times in whole seconds. Layout B with one record per description, or
// layout A (at most one description; its language is not stored). The kit file itself is
// left out when it lies inside the directory. The kit ends with an integrity trailer,
// signed with the secret key file when options.sign.
//
// A LANG that no text set of the installer has is refused (the codes are listed); a
// description document that is no file of the tree, and a tree without files, are warned
// about on err and packed all the same.
//
// Reports on out, errors on err. Returns the exit status: 0, or 1 when the tree or the key
// cannot be read, a name cannot be stored, or writing fails (a partly written kit is
// removed), or 2 for options that are wrong or do not fit together.
int RunPack(const PackOptions& options, std::FILE* out, std::FILE* err);

#endif  // TOOLS_PACK_COMMAND_H_
