// ScratchDirectory: a fresh directory for one test under $TMPDIR (or /tmp), removed with
// everything in it when the object is destroyed.

#ifndef FS_SCRATCH_DIRECTORY_H_
#define FS_SCRATCH_DIRECTORY_H_

#include <cstddef>
#include <string>

#include "text/wide_string.h"

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // The directory's path, without a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string Child(const std::string& name) const { return path_ + "/" + name; }
  // Child(name) as a WideString (the scratch paths are ASCII).
  WideString Wide(const std::string& name) const;
  // Makes nested directories inside the scratch directory such that the deepest one's path
  // has exactly total_length bytes (longer than a single path component may be), and
  // returns that path.
  std::string MakeDirectoryOfPathLength(std::size_t total_length) const;

 private:
  std::string path_;
};

// An ASCII text as a WideString.
WideString WideFromAscii(const std::string& text);

// Writes bytes into a new or emptied file; false when that fails.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// The file's bytes, or an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Both look at path itself (lstat): a link, even a dangling one, is not followed.
// True when path is a directory.
bool IsDirectory(const std::string& path);
// True when anything is at path.
bool Exists(const std::string& path);

#endif  // FS_SCRATCH_DIRECTORY_H_
