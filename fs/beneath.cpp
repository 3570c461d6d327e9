#include "fs/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kFolderStep = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsDotDot(const char* start, std::size_t length) {
  return length == 2 && start[0] == '.' && start[1] == '.';
}

bool IsSkipped(const char* start, std::size_t length) {
  return length == 0 || (length == 1 && start[0] == '.');
}

// Walks the names of [start, end) from root; the result is a descriptor of the folder they
// name, opened with last_flags for the last step.
int Walk(int root, const char* start, const char* end, int last_flags) {
  if (!StaysBeneath(start, static_cast<std::size_t>(end - start))) {
    errno = EINVAL;
    return -1;
  }
  int current = root;
  const char* name = start;
  for (;;) {
    const char* stop = static_cast<const char*>(std::memchr(name, '/', end - name));
    if (stop == nullptr) stop = end;
    const std::size_t length = static_cast<std::size_t>(stop - name);
    int next = -1;
    bool skipped = IsSkipped(name, length);
    if (!skipped) {
      char component[256];
      if (length >= sizeof component) {
        if (current != root) close(current);
        errno = ENAMETOOLONG;
        return -1;
      }
      std::memcpy(component, name, length);
      component[length] = '\0';
      next = openat(current, component, kFolderStep);
      const int error = errno;
      if (current != root) close(current);
      if (next < 0) {
        errno = error;
        return -1;
      }
      current = next;
    }
    if (stop == end) break;
    name = stop + 1;
  }
  // The last step again with the caller's flags, or the root itself reopened.
  const int flags = (last_flags & O_PATH) != 0 ? kFolderStep : (O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current != root && (last_flags & O_PATH) != 0) return current;
  const int reopened = openat(current, ".", flags);
  const int error = errno;
  if (current != root) close(current);
  errno = error;
  return reopened;
}

}  // namespace

bool StaysBeneath(const char* relative, std::size_t length) {
  const char* const end = relative + length;
  const char* name = relative;
  for (;;) {
    const char* stop = static_cast<const char*>(std::memchr(name, '/', end - name));
    if (stop == nullptr) stop = end;
    if (IsDotDot(name, static_cast<std::size_t>(stop - name))) return false;
    if (stop == end) return true;
    name = stop + 1;
  }
}

ScopedDescriptor::~ScopedDescriptor() {
  // Kept as it was for whoever reads it after a failure that came before.
  const int error = errno;
  if (descriptor_ >= 0) close(descriptor_);
  errno = error;
}

int OpenRootDirectory(const char* path) {
  return open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int OpenFolderBeneath(int root, const NarrowString& relative, int flags) {
  return Walk(root, relative.Data(), relative.Data() + relative.Length(), flags);
}

int OpenParentBeneath(int root, const NarrowString& relative, const char** name) {
  const char* data = relative.CStr();
  const char* slash = static_cast<const char*>(memrchr(data, '/', relative.Length()));
  *name = slash == nullptr ? data : slash + 1;
  if (!StaysBeneath(data, relative.Length())) {
    errno = EINVAL;
    return -1;
  }
  return Walk(root, data, slash == nullptr ? data : slash, O_PATH);
}

namespace {

void Fill(const struct stat64& status, NodeIdentity* identity, mode_t* mode) {
  identity->device = static_cast<uint64_t>(status.st_dev);
  identity->inode = static_cast<uint64_t>(status.st_ino);
  identity->size = static_cast<uint64_t>(status.st_size);
  identity->seconds = static_cast<int64_t>(status.st_mtim.tv_sec);
  identity->nanoseconds = static_cast<uint32_t>(status.st_mtim.tv_nsec);
  if (mode != nullptr) *mode = status.st_mode;
}

}  // namespace

bool IdentityAt(int folder, const char* name, NodeIdentity* identity, mode_t* mode) {
  struct stat64 status;
  if (fstatat64(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  Fill(status, identity, mode);
  return true;
}

bool IdentityOf(int descriptor, NodeIdentity* identity, mode_t* mode) {
  struct stat64 status;
  if (fstat64(descriptor, &status) != 0) return false;
  Fill(status, identity, mode);
  return true;
}

NarrowString DescriptorPath(int folder, const char* name) {
  char prefix[48];
  std::snprintf(prefix, sizeof prefix, "/proc/self/fd/%d/", folder);
  NarrowString path(prefix);
  path.Append(name);
  return path;
}

bool SyncEntry(int folder, const char* name) {
  const int file = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file < 0) return false;
  const bool synced = fsync(file) == 0;
  const int error = errno;
  close(file);
  if (!synced) {
    errno = error;
    return false;
  }
  const int directory = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  const bool done = fsync(directory) == 0;
  const int directory_error = errno;
  close(directory);
  errno = directory_error;
  return done;
}

bool RenameNoReplace(int from_folder, const char* from_name, int to_folder, const char* to_name) {
  if (renameat2(from_folder, from_name, to_folder, to_name, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat64 status;
  if (fstatat64(to_folder, to_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return renameat(from_folder, from_name, to_folder, to_name) == 0;
}
