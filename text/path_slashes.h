// The separators of a path's text. Paths reach the program with "\" as well as "/" between
// names (kit entry names, locations typed in or read from the launcher's settings); the
// system knows only "/", so every "\" is read as "/" before a path is used, and a directory
// that a name is appended to ends with exactly the "/" the join needs.

#ifndef TEXT_PATH_SLASHES_H_
#define TEXT_PATH_SLASHES_H_

#include <string>

#include "text/narrow_string.h"
#include "text/wide_string.h"

// Every "\" of *path becomes "/".
void UseForwardSlashes(WideString* path);

// A "/" is appended to *path unless its last unit is one already; the empty path becomes "/".
void AppendSlash(NarrowString* path);
void AppendSlash(WideString* path);
void AppendSlash(std::string* path);
// As AppendSlash, for a path whose "\" are not yet read as "/": a last "\" counts as a
// separator too, and nothing is appended after it.
void AppendSlashUnlessSeparator(WideString* path);

// path without its trailing "/" units; "/" itself stays "/", so the root keeps its name.
NarrowString WithoutTrailingSlashes(const NarrowString& path);
std::string WithoutTrailingSlashes(const std::string& path);

#endif  // TEXT_PATH_SLASHES_H_
