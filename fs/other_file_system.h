// OtherFileSystemDirectory: for tests of moves across file systems, a fresh directory on a
// file system other than the one a given path lies on, removed with everything in it when
// the object is destroyed.

#ifndef FS_OTHER_FILE_SYSTEM_H_
#define FS_OTHER_FILE_SYSTEM_H_

#include <string>

class OtherFileSystemDirectory {
 public:
  // Looks at /dev/shm, /run/shm, /run, /tmp, /var/tmp, $HOME and the working directory, in
  // this order, for a writable directory whose file system differs from that of than.
  explicit OtherFileSystemDirectory(const std::string& than);
  ~OtherFileSystemDirectory();
  OtherFileSystemDirectory(const OtherFileSystemDirectory&) = delete;
  OtherFileSystemDirectory& operator=(const OtherFileSystemDirectory&) = delete;

  // False when no such file system could be used (the tests that need one skip then).
  bool Found() const { return !path_.empty(); }
  // The directory, without a trailing "/"; empty when none was found.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

#endif  // FS_OTHER_FILE_SYSTEM_H_
