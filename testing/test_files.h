// Files and folders as tests make and look at them: whole contents, modification times,
// names in a folder, existence. Paths are byte strings, as the system takes them.

#ifndef TESTING_TEST_FILES_H_
#define TESTING_TEST_FILES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// File contents as the kit's writer and reader take them.
using Bytes = std::vector<unsigned char>;

// The file's bytes. Both throw std::runtime_error when the file cannot be read, so that a
// missing file never passes for an empty one.
std::string ReadWholeFile(const std::string& path);
Bytes ReadWholeFileBytes(const std::string& path);
// Writes bytes into a new or emptied file; false when that fails.
[[nodiscard]] bool WriteWholeFile(const std::string& path, const std::string& bytes);
[[nodiscard]] bool WriteWholeFile(const std::string& path, const Bytes& bytes);
// WriteWholeFile, then the file's modification time; false on failure.
[[nodiscard]] bool WriteFileAt(const std::string& path, const std::string& bytes,
                               int64_t seconds, long nanoseconds = 0);

// Makes the directory and its missing parents; false on failure.
[[nodiscard]] bool MakeDirectories(const std::string& path);
// Sets the access and modification time of path itself (not following a link).
[[nodiscard]] bool SetModificationTime(const std::string& path, int64_t seconds,
                                       long nanoseconds = 0);
// lstat's modification seconds, or -1.
int64_t ModificationSeconds(const std::string& path);

// Both look at path itself (lstat): a link, even a dangling one, is not followed.
// True when anything is at path.
bool Exists(const std::string& path);
// True when path is a directory.
bool IsDirectory(const std::string& path);

// The names in a directory ("." and ".." left out), sorted. Throws std::runtime_error when
// the directory cannot be read, so that a failed listing never passes for an empty folder.
std::vector<std::string> ListNames(const std::string& directory);
// Number of open file descriptors of this process.
int OpenDescriptorCount();

// Sets or clears the immutable attribute of a file or directory (nothing, not even root,
// can then change, move, remove it or add to it); false when the file system or the
// process's privileges do not allow it. Tests use it to make a system call fail for root.
bool SetImmutable(const std::string& path, bool immutable);

// Clears the immutable attribute of a path when it goes out of scope, so that a failing
// test leaves nothing its scratch directory cannot remove.
class ImmutableGuard {
 public:
  explicit ImmutableGuard(std::string path) : path_(std::move(path)) {}
  ~ImmutableGuard() { SetImmutable(path_, false); }
  ImmutableGuard(const ImmutableGuard&) = delete;
  ImmutableGuard& operator=(const ImmutableGuard&) = delete;

 private:
  std::string path_;
};

#endif  // TESTING_TEST_FILES_H_
