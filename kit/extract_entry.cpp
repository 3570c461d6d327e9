// DistributionKit::ExtractEntry: copying one entry out of the open container.

#include <errno.h>
#include <unistd.h>

#include "kit/container_format.h"
#include "kit/distribution_kit.h"

namespace {

// Whether copy_file_range(2) cannot serve these two files at all (not a failure of the copy).
bool InKernelCopyUnavailable(int error_number) {
  return error_number == EXDEV || error_number == EINVAL || error_number == ENOSYS ||
         error_number == EOPNOTSUPP || error_number == EBADF;
}

// Copies size bytes at offset of the container to the destination's position: in the kernel
// where it can (no copy through this process, and a shared extent on file systems that
// share blocks), else through buffer with pread(2), so that the container's own position is
// never used. A container that ends before the bytes do is kErrorInvalidData: no further
// read could make progress.
ErrorCode CopyEntryBytes(int container, uint64_t offset, int destination, uint32_t size,
                         unsigned char* buffer) {
  off64_t from = static_cast<off64_t>(offset);
  uint32_t remaining = size;
  while (remaining > 0) {
    const ssize_t copied =
        copy_file_range(container, &from, destination, nullptr, remaining, 0);
    if (copied > 0) {
      remaining -= static_cast<uint32_t>(copied);
      continue;
    }
    if (copied == 0) return kErrorInvalidData;
    if (errno == EINTR) continue;
    if (!InKernelCopyUnavailable(errno)) return ErrorCodeFromErrno(errno);
    break;
  }
  while (remaining > 0) {
    const std::size_t wanted = remaining < kCopyBufferBytes ? remaining : kCopyBufferBytes;
    const ssize_t got = pread64(container, buffer, wanted, from);
    if (got < 0) {
      if (errno == EINTR) continue;
      return ErrorCodeFromErrno(errno);
    }
    if (got == 0) return kErrorInvalidData;
    uint32_t written = 0;
    const ErrorCode code =
        FileWrite(destination, buffer, static_cast<uint32_t>(got), &written, nullptr);
    if (code != kSuccess) return code;
    from += got;
    remaining -= static_cast<uint32_t>(got);
  }
  return kSuccess;
}

}  // namespace

ErrorCode DistributionKit::CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new) {
  if (index >= entries_.size()) return kErrorInvalidParameter;
  const KitEntry& entry = entries_[index];
  if (container_handle_ == kNoFileHandle) return kErrorInvalidHandle;
  const ErrorCode code = CopyEntryBytes(static_cast<int>(container_handle_), entry.offset,
                                        static_cast<int>(output), entry.size, copy_buffer_.get());
  if (code != kSuccess) return code;
  // An existing longer file must end where the entry ends; stamping is best effort.
  if (!output_is_new) FileTruncateHere(output);
  FileSetTimes(output, nullptr, nullptr, &entry.time);
  return kSuccess;
}

ErrorCode DistributionKit::ExtractEntry(std::size_t index, const WideString& destination) {
  if (index >= entries_.size()) return kErrorInvalidParameter;
  FileHandle output = kNoFileHandle;
  const ErrorCode code =
      FileOpen(destination, kFileAccessWrite, 0, kFileCreateAlways, &output, kNormalFileAttributes);
  if (code != kSuccess) return code;
  const ErrorCode copied = CopyEntryTo(index, output);
  if (copied != kSuccess) {
    FileClose(output);
    return copied;
  }
  // A close can report a delayed write failure of the copied bytes.
  return FileClose(output);
}
