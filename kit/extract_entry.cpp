// DistributionKit::ExtractEntry: copying one entry out of the open container.

#include "kit/container_format.h"
#include "kit/distribution_kit.h"

namespace {

// Copies size bytes at offset of the container to the destination's position: in the kernel
// where it can, else through buffer, reading at the offset so that the container's own
// position is never used. A container that ends before the bytes do is kErrorInvalidData: no
// further read could make progress.
ErrorCode CopyEntryBytes(FileHandle container, uint64_t offset, FileHandle destination,
                         uint32_t size, unsigned char* buffer) {
  uint32_t copied = 0;
  const ErrorCode code = FileCopyInKernel(container, &offset, destination, size, &copied);
  if (code == kSuccess) return copied == size ? kSuccess : kErrorInvalidData;
  if (code != kErrorNotSupported) return code;
  uint32_t remaining = size - copied;
  while (remaining > 0) {
    const uint32_t wanted = remaining < kCopyBufferBytes ? remaining : kCopyBufferBytes;
    uint32_t got = 0;
    const ErrorCode read = FileReadAt(container, offset, buffer, wanted, &got);
    if (read != kSuccess) return read;
    if (got < wanted) return kErrorInvalidData;
    uint32_t written = 0;
    const ErrorCode write = FileWrite(destination, buffer, got, &written, nullptr);
    if (write != kSuccess) return write;
    offset += got;
    remaining -= got;
  }
  return kSuccess;
}

}  // namespace

ErrorCode DistributionKit::CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new) {
  if (index >= entries_.size()) return kErrorInvalidParameter;
  const KitEntry& entry = entries_[index];
  if (container_handle_ == kNoFileHandle) return kErrorInvalidHandle;
  const ErrorCode code =
      CopyEntryBytes(container_handle_, entry.offset, output, entry.size, copy_buffer_.get());
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
