// DistributionKit::ExtractEntry: copying one entry out of the open container.

#include "kit/container_format.h"
#include "kit/distribution_kit.h"

// Copies the entry's bytes from the container's current position to destination. Reads ask
// only for what the entry still needs, so the container position ends at the entry's end.
static ErrorCode CopyEntryBytes(FileHandle container, FileHandle destination, uint32_t size,
                                std::vector<unsigned char>* buffer) {
  uint32_t remaining = size;
  while (remaining > 0) {
    const uint32_t wanted =
        remaining < buffer->size() ? remaining : static_cast<uint32_t>(buffer->size());
    uint32_t delivered = 0;
    ErrorCode code = FileRead(container, buffer->data(), wanted, &delivered, nullptr);
    if (code != kSuccess) return code;
    // The container ends before the entry's data does: no further read could make progress.
    if (delivered < wanted) return kErrorInvalidData;
    uint32_t written = 0;
    code = FileWrite(destination, buffer->data(), delivered, &written, nullptr);
    if (code != kSuccess) return code;
    remaining -= delivered;
  }
  return kSuccess;
}

ErrorCode DistributionKit::CopyEntryTo(std::size_t index, FileHandle output) {
  if (index >= entries_.size()) return kErrorInvalidParameter;
  const KitEntry& entry = entries_[index];
  if (container_handle_ == kNoFileHandle) return kErrorInvalidHandle;
  if (FileSeek(container_handle_, entry.offset, kFileSeekBegin) < 0) return LastErrorCode();
  const ErrorCode code = CopyEntryBytes(container_handle_, output, entry.size, &copy_buffer_);
  if (code != kSuccess) return code;
  // An existing longer file must end where the entry ends; stamping is best effort.
  FileTruncateHere(output);
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
