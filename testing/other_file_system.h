// OtherFileSystemDirectory: for tests of moves across file systems, a scratch directory on a
// file system other than the one a given path lies on.

#ifndef TESTING_OTHER_FILE_SYSTEM_H_
#define TESTING_OTHER_FILE_SYSTEM_H_

#include <memory>
#include <string>

#include "testing/scratch_directory.h"

class OtherFileSystemDirectory {
 public:
  // Looks at /dev/shm, /run/shm, /run, /tmp, /var/tmp, $HOME and the working directory, in
  // this order, for a writable directory whose file system differs from that of than.
  explicit OtherFileSystemDirectory(const std::string& than);
  OtherFileSystemDirectory(const OtherFileSystemDirectory&) = delete;
  OtherFileSystemDirectory& operator=(const OtherFileSystemDirectory&) = delete;

  // False when no such file system could be used (the tests that need one skip then).
  bool Found() const { return folder_ != nullptr; }
  // The folder, without a trailing "/"; empty when none was found.
  std::string Path() const { return Found() ? folder_->Path() : std::string(); }

 private:
  std::unique_ptr<ScratchDirectory> folder_;
};

#endif  // TESTING_OTHER_FILE_SYSTEM_H_
