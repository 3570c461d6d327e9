#include "fs/copy_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "fs/file_layer.h"

namespace {

constexpr std::size_t kCopyChunkBytes = 1 << 20;

// Copies the rest of source into destination: in the kernel where it can, else through a
// buffer. Returns 0 or an errno value.
int CopyBytes(int source, int destination) {
  bool in_kernel = true;
  std::vector<char> buffer;
  for (;;) {
    if (in_kernel) {
      const ssize_t copied =
          copy_file_range(source, nullptr, destination, nullptr, kCopyChunkBytes, 0);
      if (copied > 0) continue;
      if (copied == 0) return 0;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
        return errno;
      }
      in_kernel = false;
      buffer.resize(kCopyChunkBytes);
    }
    const ssize_t got = read(source, buffer.data(), buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t written = write(destination, buffer.data() + done,
                                    static_cast<std::size_t>(got - done));
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += written;
    }
  }
}

// The link at from, made again at to with from's times. Returns 0 or an errno value.
int CopyLink(const NarrowString& from, const NarrowString& to, const struct stat64& status) {
  std::vector<char> target(static_cast<std::size_t>(status.st_size) + 2);
  for (;;) {
    const ssize_t length = readlink(from.CStr(), target.data(), target.size());
    if (length < 0) return errno;
    // A link that grew since it was measured is read again with more room.
    if (static_cast<std::size_t>(length) < target.size()) {
      target[static_cast<std::size_t>(length)] = '\0';
      break;
    }
    target.resize(target.size() * 2);
  }
  if (symlink(target.data(), to.CStr()) != 0) return errno;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  utimensat(AT_FDCWD, to.CStr(), times, AT_SYMLINK_NOFOLLOW);
  if (lchown(to.CStr(), status.st_uid, status.st_gid) != 0) {
    // Only a privileged process may give a file away; the copy stays the copier's.
  }
  return 0;
}

// Copies the regular file open as source (with status) to the new name to. Returns 0 or an
// errno value; a file made at to is removed again on failure.
int CopyRegularFile(int source, const NarrowString& to, const struct stat64& status) {
  const int destination =
      open(to.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (destination < 0) return errno;
  int error = CopyBytes(source, destination);
  if (error == 0 && fchown(destination, status.st_uid, status.st_gid) != 0) {
    // As for links: only a privileged process keeps another owner.
  }
  if (error == 0 && fchmod(destination, status.st_mode & 07777) != 0) error = errno;
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (error == 0 && futimens(destination, times) != 0) error = errno;
  // A close can report a delayed write failure.
  if (close(destination) != 0 && error == 0) error = errno;
  if (error != 0) unlink(to.CStr());
  return error;
}

}  // namespace

ErrorCode CopyFileExclusively(const NarrowString& from, const NarrowString& to) {
  struct stat64 status;
  if (lstat64(from.CStr(), &status) != 0) return ErrorCodeFromErrno(errno);
  if (S_ISLNK(status.st_mode)) {
    const int error = CopyLink(from, to, status);
    return error == 0 ? kSuccess : ErrorCodeFromErrno(error);
  }
  if (!S_ISREG(status.st_mode)) return kErrorInvalidParameter;
  const int source = open(from.CStr(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (source < 0) return ErrorCodeFromErrno(errno);
  const int error = CopyRegularFile(source, to, status);
  close(source);
  return error == 0 ? kSuccess : ErrorCodeFromErrno(error);
}
