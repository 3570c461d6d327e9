// DistributionKit::ExtractEntry: copying one entry out of the open container.

#include "kit/container_format.h"
#include "kit/distribution_kit.h"

ErrorCode DistributionKit::CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new) {
  return CopyEntryTo(index, output, output_is_new, copy_buffer_.get());
}

ErrorCode DistributionKit::CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new,
                                       unsigned char* buffer) const {
  if (index >= entries_.size()) return kErrorInvalidParameter;
  const KitEntry& entry = entries_[index];
  // A container without its data would give whatever bytes it holds, or none.
  if (container_handle_ == kNoFileHandle || !data_stored_) return kErrorInvalidHandle;
  uint64_t offset = entry.offset;
  uint32_t copied = 0;
  ErrorCode code = FileCopyRange(container_handle_, &offset, output, entry.size,
                                 buffer, kCopyBufferBytes, &copied);
  if (code != kSuccess) return code;
  // A container that ends before the bytes do: no further read could make progress.
  if (copied != entry.size) return kErrorInvalidData;
  // An existing longer file must end where the entry ends, or its old tail stays.
  if (!output_is_new) {
    code = FileTruncateHere(output);
    if (code != kSuccess) return code;
  }
  // Stamping stays best effort.
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
