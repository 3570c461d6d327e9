#include "kit/inflate_kit.h"

#include <sys/mman.h>
#include <sys/types.h>
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "fs/file_layer.h"

static void SetFailure(NarrowString* failure, const char* text) {
  if (failure != nullptr) *failure = text;
}

// Inflated bytes on their way to the container: collected until the buffer is full, so
// that the container is written in large pieces whatever the window size.
class ContainerOutput {
 public:
  ContainerOutput(FileHandle container, uint64_t max_bytes)
      : container_(container), max_bytes_(max_bytes), buffer_(kInflateOutputBytes) {}

  // Points the stream at the free part of the buffer.
  void Offer(z_stream* stream) {
    stream->next_out = buffer_.data() + filled_;
    stream->avail_out = static_cast<uInt>(buffer_.size() - filled_);
  }

  // Takes what the last inflate call produced; writes the buffer out when it is full.
  ErrorCode Take(const z_stream& stream, NarrowString* failure) {
    const std::size_t now_filled = buffer_.size() - stream.avail_out;
    produced_ += now_filled - filled_;
    filled_ = now_filled;
    if (produced_ > max_bytes_) {
      SetFailure(failure, "the kit inflates to more than a container can hold");
      return kErrorInvalidData;
    }
    return filled_ == buffer_.size() ? Flush(failure) : kSuccess;
  }

  ErrorCode Flush(NarrowString* failure) {
    if (filled_ == 0) return kSuccess;
    uint32_t count = 0;
    const ErrorCode code =
        FileWrite(container_, buffer_.data(), static_cast<uint32_t>(filled_), &count, nullptr);
    if (code != kSuccess) SetFailure(failure, "writing the container file failed");
    filled_ = 0;
    return code;
  }

 private:
  FileHandle container_;
  uint64_t max_bytes_;
  std::vector<unsigned char> buffer_;
  std::size_t filled_ = 0;
  uint64_t produced_ = 0;
};

// Runs the windows through an inflate stream into the container. Returns the code that ends
// the inflation; *last_status is the last inflate result, with a buffer shortage while no
// input is left counted as 0.
static ErrorCode InflateWindows(FileHandle kit, uint64_t kit_size, FileHandle container,
                                uint64_t max_container_bytes, z_stream* stream, int* last_status,
                                NarrowString* failure) {
  ContainerOutput output(container, max_container_bytes);
  for (uint64_t offset = 0; offset < kit_size; offset += kInflateWindowBytes) {
    const uint64_t left = kit_size - offset;
    const std::size_t window_length =
        static_cast<std::size_t>(left < kInflateWindowBytes ? left : kInflateWindowBytes);
    void* window = mmap64(nullptr, window_length, PROT_READ, MAP_PRIVATE, static_cast<int>(kit),
                          static_cast<off64_t>(offset));
    if (window == MAP_FAILED) {
      SetFailure(failure, "a window of the kit file cannot be mapped");
      return kErrorInvalidParameter;
    }
    stream->next_in = static_cast<Bytef*>(window);
    stream->avail_in = static_cast<uInt>(window_length);
    ErrorCode code = kSuccess;
    bool output_was_full = false;
    do {
      // The buffer is never full here: Take writes it out as soon as it fills.
      output.Offer(stream);
      *last_status = inflate(stream, Z_NO_FLUSH);
      if (*last_status == Z_BUF_ERROR && stream->avail_in == 0) *last_status = Z_OK;
      output_was_full = stream->avail_out == 0;
      code = output.Take(*stream, failure);
    } while (code == kSuccess && *last_status == Z_OK && output_was_full);
    munmap(window, window_length);
    if (code != kSuccess) return code;
    // Once the stream has ended or failed, zlib would only repeat that status for the
    // windows that are left.
    if (*last_status != Z_OK) break;
  }
  return output.Flush(failure);
}

static ErrorCode InflateOpenFiles(FileHandle kit, FileHandle container,
                                  uint64_t max_container_bytes, NarrowString* failure) {
  const int64_t kit_size = FileSeek(kit, 0, kFileSeekEnd);
  if (kit_size < 0) {
    SetFailure(failure, "the size of the kit file cannot be taken");
    return LastErrorCode();
  }
  z_stream stream = {};
  if (inflateInit2(&stream, kRawDeflateWindowBits) != Z_OK) {
    SetFailure(failure, "the inflate stream cannot be set up");
    return kErrorInvalidParameter;
  }
  int last_status = Z_OK;
  ErrorCode code = InflateWindows(kit, static_cast<uint64_t>(kit_size), container,
                                  max_container_bytes, &stream, &last_status, failure);
  inflateEnd(&stream);
  if (code != kSuccess) return code;
  if (last_status < 0) {
    if (failure != nullptr) {
      char text[96];
      std::snprintf(text, sizeof text, "the kit is not valid DEFLATE data (zlib status %d)",
                    last_status);
      *failure = text;
    }
    return kErrorInvalidData;
  }
  // A container file that already held more bytes must end where the inflated data ends.
  code = FileTruncateHere(container);
  if (code != kSuccess) SetFailure(failure, "the container file cannot be cut to its length");
  return code;
}

ErrorCode InflateKitInto(const WideString& kit_path, FileHandle container, NarrowString* failure,
                         uint64_t max_container_bytes) {
  FileHandle kit = kNoFileHandle;
  const ErrorCode code =
      FileOpen(kit_path, kFileAccessRead, 0, kFileOpenExisting, &kit, kSequentialFileAttributes);
  if (code != kSuccess) {
    SetFailure(failure, "the kit file cannot be opened");
    return code;
  }
  const ErrorCode inflated = InflateOpenFiles(kit, container, max_container_bytes, failure);
  FileClose(kit);
  return inflated;
}

ErrorCode InflateKit(const WideString& kit_path, const WideString& container_path,
                     NarrowString* failure, uint64_t max_container_bytes) {
  FileHandle container = kNoFileHandle;
  ErrorCode code = FileOpen(container_path, kFileAccessWrite, 0, kFileCreateAlways, &container,
                            kNormalFileAttributes);
  if (code != kSuccess) {
    SetFailure(failure, "the container file cannot be opened for writing");
    // The kit's own failure comes first, as it would when both fail.
    FileHandle kit = kNoFileHandle;
    const ErrorCode kit_code =
        FileOpen(kit_path, kFileAccessRead, 0, kFileOpenExisting, &kit, kSequentialFileAttributes);
    if (kit_code != kSuccess) {
      SetFailure(failure, "the kit file cannot be opened");
      return kit_code;
    }
    FileClose(kit);
    return code;
  }
  code = InflateKitInto(kit_path, container, failure, max_container_bytes);
  // Closing the container can report a delayed write failure.
  const ErrorCode close_code = FileClose(container);
  if (code == kSuccess && close_code != kSuccess) {
    SetFailure(failure, "closing the container file failed");
    code = close_code;
  }
  return code;
}
