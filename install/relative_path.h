// Paths inside a template directory as the installation handles them: bytes, relative to the
// template directory, "/"-separated. A kit entry's path (kit/entry_path.h) becomes such bytes
// once per run, and every system call is made on the template directory's bytes followed by
// them, or relative to the directory the run opened.

#ifndef INSTALL_RELATIVE_PATH_H_
#define INSTALL_RELATIVE_PATH_H_

#include "text/narrow_string.h"

// Whether relative names the run's work folder or something in it: its first name, past
// empty and "." names, is the work folder's.
bool IsInWorkFolder(const NarrowString& relative);

// Whether a relative path read back from a journal stays inside the template directory and
// outside the work folder: not absolute, no ".." name, no zero byte. The empty path (the
// directory itself) is contained.
bool IsContainedRelativePath(const NarrowString& relative);

// The folder part of relative: the bytes before its last "/", empty when it has none.
NarrowString RelativeParent(const NarrowString& relative);

// The last name of relative (all of it when it has no "/"), pointing into relative.
const char* NameOf(const NarrowString& relative);

// directory followed by relative, with one "/" between them (directory may end with "/").
NarrowString JoinPath(const NarrowString& directory, const NarrowString& relative);

// The directory that holds the absolute path ("/" for a path right below the root); false
// for "/" and for a path without "/".
bool ParentDirectory(const NarrowString& path, NarrowString* parent);

// The work folder of a template directory, and the path under its backup folder that holds
// the original of relative.
NarrowString WorkFolderPath(const NarrowString& target);
NarrowString BackupPath(const NarrowString& target, const NarrowString& relative);

#endif  // INSTALL_RELATIVE_PATH_H_
