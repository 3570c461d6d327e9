#include "fs/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>

#include "fs/system_error.h"
#include "text/locale_conversions.h"

namespace {

// The largest request handed to one system read or write: within SSIZE_MAX on every build.
constexpr uint32_t kMaxRequest = 1u << 30;

ErrorCode Fail(ErrorCode code) { return SetLastErrorCode(code); }

ErrorCode FailWithErrno() { return Fail(ErrorCodeFromErrno(errno)); }

// The descriptor a handle holds; a value no descriptor can have becomes -1, so the system
// call fails with EBADF instead of acting on a truncated number.
int DescriptorOf(FileHandle handle) {
  if (handle < 0 || handle > INT_MAX) return -1;
  return static_cast<int>(handle);
}

int OpenFlags(uint32_t access, uint32_t disposition) {
  int flags = O_RDONLY;
  if (access & kFileAccessWrite) flags = (access & kFileAccessRead) ? O_RDWR : O_WRONLY;
  if (disposition == kFileCreateAlways) flags |= O_CREAT;
  if (disposition == kFileTruncateExisting) flags |= O_TRUNC;
  return flags | O_CLOEXEC;
}

FileTime FromSystemTime(time_t seconds) {
  return FileTimeFromSystemSeconds(static_cast<int64_t>(seconds));
}

}  // namespace

ErrorCode FileOpen(const WideString& path, uint32_t access, uint32_t /*share_mode*/,
                   uint32_t disposition, FileHandle* handle, uint32_t attributes) {
  SetLastErrorCode(kSuccess);
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return Fail(ErrorCodeFromErrno(EILSEQ));
  int flags = OpenFlags(access, disposition);
  if (attributes & kFileFlagOpenReparsePoint) flags |= O_NOFOLLOW;
  if (attributes & kFileFlagOpenNonBlocking) flags |= O_NONBLOCK;
  const int descriptor = open64(bytes.CStr(), flags, 0660);
  if (descriptor < 0) return FailWithErrno();
  *handle = descriptor;
  return kSuccess;
}

int64_t FileSeek(FileHandle handle, int64_t offset, uint32_t origin) {
  SetLastErrorCode(kSuccess);
  if (handle == kNoFileHandle) {
    Fail(kErrorInvalidHandle);
    return -1;
  }
  int whence = SEEK_SET;
  if (origin == kFileSeekCurrent) whence = SEEK_CUR;
  if (origin == kFileSeekEnd) whence = SEEK_END;
  const off64_t position = lseek64(DescriptorOf(handle), static_cast<off64_t>(offset), whence);
  if (position < 0) {
    FailWithErrno();
    return -1;
  }
  return static_cast<int64_t>(position);
}

ErrorCode FileRead(FileHandle handle, void* buffer, uint32_t length, uint32_t* count,
                   void* overlapped) {
  SetLastErrorCode(kSuccess);
  if (count == nullptr) return overlapped == nullptr ? Fail(kErrorInvalidParameter) : kSuccess;
  *count = 0;
  char* bytes = static_cast<char*>(buffer);
  while (*count < length) {
    uint32_t request = length - *count;
    if (request > kMaxRequest) request = kMaxRequest;
    const ssize_t got = read(DescriptorOf(handle), bytes + *count, request);
    if (got < 0) return FailWithErrno();
    if (got == 0) break;
    *count += static_cast<uint32_t>(got);
  }
  return kSuccess;
}

ErrorCode FileReadAt(FileHandle handle, uint64_t offset, void* buffer, uint32_t length,
                     uint32_t* count) {
  SetLastErrorCode(kSuccess);
  *count = 0;
  char* bytes = static_cast<char*>(buffer);
  while (*count < length) {
    uint32_t request = length - *count;
    if (request > kMaxRequest) request = kMaxRequest;
    const ssize_t got = pread64(DescriptorOf(handle), bytes + *count, request,
                                static_cast<off64_t>(offset + *count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FailWithErrno();
    if (got == 0) break;
    *count += static_cast<uint32_t>(got);
  }
  return kSuccess;
}

namespace {

// FileCopyRange's copy in the kernel. kErrorNotSupported, leaving the last error alone, when
// the kernel cannot copy between these two files at all; *count and *offset then tell how
// far it came.
ErrorCode CopyInKernel(FileHandle source, uint64_t* offset, FileHandle destination,
                       uint32_t length, uint32_t* count) {
  *count = 0;
  while (*count < length) {
    off64_t from = static_cast<off64_t>(*offset);
    const ssize_t copied = copy_file_range(DescriptorOf(source), &from,
                                           DescriptorOf(destination), nullptr,
                                           length - *count, 0);
    if (copied == 0) break;
    if (copied > 0) {
      *count += static_cast<uint32_t>(copied);
      *offset += static_cast<uint64_t>(copied);
      continue;
    }
    if (errno == EINTR) continue;
    // The kernel's ways of saying it cannot copy between these two files at all.
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
        errno == EBADF) {
      return kErrorNotSupported;
    }
    return FailWithErrno();
  }
  return kSuccess;
}

// Writes all length bytes at the handle's position; *written counts those that arrived. A
// short write is followed by another for the rest, so that a full disk reports itself as
// such (ENOSPC) instead of passing for some other failure; an interrupted write is resumed.
ErrorCode WriteWhole(FileHandle handle, const unsigned char* bytes, uint32_t length,
                     uint32_t* written) {
  *written = 0;
  while (*written < length) {
    const uint32_t request = std::min(length - *written, kMaxRequest);
    const ssize_t done = write(DescriptorOf(handle), bytes + *written, request);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return FailWithErrno();
    // No progress and no errno: another try would fare no better.
    if (done == 0) return Fail(kErrorInvalidParameter);
    *written += static_cast<uint32_t>(done);
  }
  return kSuccess;
}

}  // namespace

ErrorCode FileCopyRange(FileHandle source, uint64_t* offset, FileHandle destination,
                        uint32_t length, unsigned char* buffer, uint32_t buffer_bytes,
                        uint32_t* count) {
  SetLastErrorCode(kSuccess);
  const ErrorCode code = CopyInKernel(source, offset, destination, length, count);
  if (code != kErrorNotSupported) return code;
  if (buffer_bytes == 0) return Fail(kErrorInvalidParameter);
  while (*count < length) {
    const uint32_t wanted = std::min(length - *count, buffer_bytes);
    uint32_t got = 0;
    const ErrorCode read_code = FileReadAt(source, *offset, buffer, wanted, &got);
    if (read_code != kSuccess) return read_code;
    uint32_t written = 0;
    const ErrorCode write_code = WriteWhole(destination, buffer, got, &written);
    *count += written;
    *offset += written;
    if (write_code != kSuccess) return write_code;
    if (got < wanted) break;
  }
  return kSuccess;
}

ErrorCode FileWrite(FileHandle handle, const void* buffer, uint32_t length, uint32_t* count,
                    void* overlapped) {
  SetLastErrorCode(kSuccess);
  if (count == nullptr && overlapped == nullptr) return Fail(kErrorInvalidParameter);
  if (handle == kNoFileHandle) return Fail(kErrorInvalidHandle);
  if (count == nullptr) return kSuccess;
  const ssize_t written = write(DescriptorOf(handle), buffer, length);
  if (written < 0) {
    *count = 0;
    return FailWithErrno();
  }
  *count = static_cast<uint32_t>(written);
  // A short write leaves errno untouched; it is a failure of its own kind.
  if (*count != length) return Fail(kErrorInvalidParameter);
  return kSuccess;
}

ErrorCode FileClose(FileHandle handle) {
  if (close(DescriptorOf(handle)) != 0) return FailWithErrno();
  return kSuccess;
}

ErrorCode FileGetTimes(FileHandle handle, FileTime* creation, FileTime* access,
                       FileTime* last_write) {
  SetLastErrorCode(kSuccess);
  if (handle == kNoFileHandle) return Fail(kErrorInvalidHandle);
  struct stat64 status;
  if (fstat64(DescriptorOf(handle), &status) != 0) return Fail(kErrorInvalidHandle);
  if (creation != nullptr) *creation = FromSystemTime(status.st_ctime);
  if (access != nullptr) *access = FromSystemTime(status.st_atime);
  if (last_write != nullptr) *last_write = FromSystemTime(status.st_mtime);
  return kSuccess;
}

ErrorCode FileSetTimes(FileHandle handle, const FileTime* /*creation*/,
                       const FileTime* /*access*/, const FileTime* last_write) {
  SetLastErrorCode(kSuccess);
  if (handle == kNoFileHandle) return Fail(kErrorInvalidHandle);
  if (last_write == nullptr) return Fail(kErrorInvalidParameter);
  const int64_t seconds = SystemSecondsFromFileTime(*last_write);
  const time_t system_seconds = static_cast<time_t>(seconds);
  // A 32-bit time type cannot hold every file time; a wrapped stamp would be a wrong one.
  if (static_cast<int64_t>(system_seconds) != seconds) return Fail(kErrorInvalidParameter);
  struct timeval times[2];
  times[0].tv_sec = system_seconds;
  times[0].tv_usec = 0;
  times[1] = times[0];
  if (futimes(DescriptorOf(handle), times) != 0) return FailWithErrno();
  return kSuccess;
}

ErrorCode FileTruncateHere(FileHandle handle) {
  SetLastErrorCode(kSuccess);
  if (handle == kNoFileHandle) return Fail(kErrorInvalidHandle);
  const int descriptor = DescriptorOf(handle);
  const off64_t position = lseek64(descriptor, 0, SEEK_CUR);
  if (position < 0) return FailWithErrno();
  // A file that already ends at the position (every newly written one) is left alone: on
  // ext4 a truncation to the same length still walks the file's blocks and journals the
  // inode, which cost more than writing a small file. The status query costs next to nothing.
  struct stat64 status;
  if (fstat64(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == position) {
    return kSuccess;
  }
  if (ftruncate64(descriptor, position) != 0) return FailWithErrno();
  return kSuccess;
}
