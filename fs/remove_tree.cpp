#include "fs/remove_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fs/file_layer.h"

namespace {

// Keeps the first failure of a walk.
void Note(int error_number, int* first_error) {
  if (error_number != 0 && *first_error == 0) *first_error = error_number;
}

// Removes every entry of the directory open as descriptor (which this call closes).
void EmptyDirectory(int descriptor, int* first_error) {
  DIR* stream = fdopendir(descriptor);
  if (stream == nullptr) {
    Note(errno, first_error);
    close(descriptor);
    return;
  }
  // The names are read first: removing entries while the stream is read may skip some.
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const struct dirent64* entry = readdir64(stream);
    if (entry == nullptr) {
      Note(errno, first_error);
      break;
    }
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  const int directory = dirfd(stream);
  for (const std::string& name : names) {
    if (unlinkat(directory, name.c_str(), 0) == 0) continue;
    if (errno == ENOENT) continue;
    if (errno != EISDIR && errno != EPERM) {
      Note(errno, first_error);
      continue;
    }
    const int child = openat(directory, name.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
      Note(errno, first_error);
      continue;
    }
    EmptyDirectory(child, first_error);
    if (unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      Note(errno, first_error);
    }
  }
  closedir(stream);
}

}  // namespace

ErrorCode RemoveTree(const NarrowString& path) {
  if (path.Empty()) return kSuccess;
  struct stat64 status;
  if (lstat64(path.CStr(), &status) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? kSuccess : ErrorCodeFromErrno(errno);
  }
  if (!S_ISDIR(status.st_mode)) {
    if (unlink(path.CStr()) != 0 && errno != ENOENT) return ErrorCodeFromErrno(errno);
    return kSuccess;
  }
  int first_error = 0;
  const int descriptor = open(path.CStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    Note(errno, &first_error);
  } else {
    EmptyDirectory(descriptor, &first_error);
  }
  if (rmdir(path.CStr()) != 0 && errno != ENOENT) Note(errno, &first_error);
  return first_error == 0 ? kSuccess : ErrorCodeFromErrno(first_error);
}
