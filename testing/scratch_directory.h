// ScratchDirectory: a fresh directory for one test under $TMPDIR (or /tmp), removed with
// everything in it when the object is destroyed. It can also serve as the temporary
// directory of the code under test, so that what that code leaves there can be counted.

#ifndef TESTING_SCRATCH_DIRECTORY_H_
#define TESTING_SCRATCH_DIRECTORY_H_

#include <cstddef>
#include <memory>
#include <string>

#include "testing/environment_override.h"
#include "text/wide_string.h"

class ScratchDirectory {
 public:
  enum TempUse {
    kSharedTemp,  // TMPDIR stays as it is
    kOwnTemp,     // the folder's "tmp" subfolder is TMPDIR while the object lives
  };

  // Throws std::runtime_error when the folder cannot be made.
  explicit ScratchDirectory(TempUse temp = kSharedTemp);
  // The same under base instead of the temporary folder.
  ScratchDirectory(const std::string& base, TempUse temp);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // The folder's path, without a trailing "/".
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string Child(const std::string& name) const { return path_ + "/" + name; }
  // Child(name) as a WideString (the name is taken as UTF-8).
  WideString Wide(const std::string& name) const;

  // kOwnTemp only: what TMPDIR names, with a trailing "/".
  std::string TempDirectory() const;
  // kOwnTemp only: the entries of TempDirectory().
  int TempEntryCount() const;

  // Makes nested directories inside the folder such that the deepest one's path has exactly
  // total_length bytes (longer than a single path component may be), and returns that path.
  std::string MakeDirectoryOfPathLength(std::size_t total_length) const;

 private:
  void Make(const std::string& base, TempUse temp);

  std::string path_;
  std::unique_ptr<EnvironmentOverride> tmpdir_;
};

#endif  // TESTING_SCRATCH_DIRECTORY_H_
