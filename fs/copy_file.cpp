#include "fs/copy_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "fs/file_handle.h"
#include "fs/read_link.h"
#include "fs/system_error.h"

namespace {

// The most one FileCopyRange call is asked for, and the buffer it falls back on where the
// kernel cannot copy.
constexpr uint32_t kCopyPieceBytes = 1u << 30;
constexpr uint32_t kCopyBufferBytes = 1u << 20;

// The code of a failed ownership change. Only a privileged process may give a file away, so
// EPERM leaves the copy the copier's and is no failure.
ErrorCode OwnershipCode() { return errno == EPERM ? kSuccess : ErrorCodeFromErrno(errno); }

// Copies the rest of source into destination, a piece at a time until the source ends.
ErrorCode CopyContents(int source, int destination) {
  // Left unfilled: its pages are touched only where the kernel cannot copy.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCopyBufferBytes]);
  uint64_t offset = 0;
  for (;;) {
    uint32_t count = 0;
    const ErrorCode code = FileCopyRange(source, &offset, destination, kCopyPieceBytes,
                                         buffer.get(), kCopyBufferBytes, &count);
    if (code != kSuccess || count < kCopyPieceBytes) return code;
  }
}

// The link at from, made again at to with from's times; a link made at to is removed again
// on failure.
ErrorCode CopyLink(const NarrowString& from, const NarrowString& to,
                   const struct stat64& status) {
  NarrowString target;
  const int error = ReadLinkAt(AT_FDCWD, from.CStr(), &target);
  if (error != 0) return ErrorCodeFromErrno(error);
  if (symlink(target.CStr(), to.CStr()) != 0) return ErrorCodeFromErrno(errno);
  ErrorCode code = kSuccess;
  if (lchown(to.CStr(), status.st_uid, status.st_gid) != 0) code = OwnershipCode();
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (code == kSuccess && utimensat(AT_FDCWD, to.CStr(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    code = ErrorCodeFromErrno(errno);
  }
  if (code != kSuccess) unlink(to.CStr());
  return code;
}

// Copies the regular file open as source (with status) to the new name to; a file made at to
// is removed again on failure.
ErrorCode CopyRegularFile(int source, const NarrowString& to, const struct stat64& status) {
  const int destination =
      open(to.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (destination < 0) return ErrorCodeFromErrno(errno);
  ErrorCode code = CopyContents(source, destination);
  if (code == kSuccess && fchown(destination, status.st_uid, status.st_gid) != 0) {
    code = OwnershipCode();
  }
  if (code == kSuccess && fchmod(destination, status.st_mode & 07777) != 0) {
    code = ErrorCodeFromErrno(errno);
  }
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  if (code == kSuccess && futimens(destination, times) != 0) code = ErrorCodeFromErrno(errno);
  // A close can report a delayed write failure.
  if (close(destination) != 0 && code == kSuccess) code = ErrorCodeFromErrno(errno);
  if (code != kSuccess) unlink(to.CStr());
  return code;
}

}  // namespace

ErrorCode CopyFileExclusively(const NarrowString& from, const NarrowString& to) {
  struct stat64 status;
  if (lstat64(from.CStr(), &status) != 0) return ErrorCodeFromErrno(errno);
  if (S_ISLNK(status.st_mode)) return CopyLink(from, to, status);
  if (!S_ISREG(status.st_mode)) return kErrorInvalidParameter;
  const int source = open(from.CStr(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (source < 0) return ErrorCodeFromErrno(errno);
  const ErrorCode code = CopyRegularFile(source, to, status);
  close(source);
  return code;
}
