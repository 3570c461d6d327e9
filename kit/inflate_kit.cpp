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

// Runs the windows through an inflate stream into the container. Returns the code that ends
// the inflation; *last_status is the last inflate result, with a buffer shortage while no
// input is left counted as 0.
static ErrorCode InflateWindows(FileHandle kit, uint64_t kit_size, FileHandle container,
                                uint64_t max_container_bytes, z_stream* stream, int* last_status,
                                NarrowString* failure) {
  std::vector<unsigned char> output(kInflateWindowBytes);
  uint64_t written = 0;
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
    do {
      stream->next_out = output.data();
      stream->avail_out = kInflateWindowBytes;
      *last_status = inflate(stream, Z_NO_FLUSH);
      if (*last_status == Z_BUF_ERROR && stream->avail_in == 0) *last_status = Z_OK;
      const uint32_t produced = kInflateWindowBytes - stream->avail_out;
      if (produced > 0) {
        written += produced;
        if (written > max_container_bytes) {
          SetFailure(failure, "the kit inflates to more than a container can hold");
          code = kErrorInvalidData;
          break;
        }
        uint32_t count = 0;
        code = FileWrite(container, output.data(), produced, &count, nullptr);
        if (code != kSuccess) {
          SetFailure(failure, "writing the container file failed");
          break;
        }
      }
    } while (*last_status == Z_OK && stream->avail_out == 0);
    munmap(window, window_length);
    if (code != kSuccess) return code;
    // Once the stream has ended or failed, zlib would only repeat that status for the
    // windows that are left.
    if (*last_status != Z_OK) break;
  }
  return kSuccess;
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

ErrorCode InflateKit(const WideString& kit_path, const WideString& container_path,
                     NarrowString* failure, uint64_t max_container_bytes) {
  FileHandle kit = kNoFileHandle;
  ErrorCode code =
      FileOpen(kit_path, kFileAccessRead, 0, kFileOpenExisting, &kit, kSequentialFileAttributes);
  if (code != kSuccess) {
    SetFailure(failure, "the kit file cannot be opened");
    return code;
  }
  FileHandle container = kNoFileHandle;
  code = FileOpen(container_path, kFileAccessWrite, 0, kFileCreateAlways, &container,
                  kNormalFileAttributes);
  if (code != kSuccess) {
    SetFailure(failure, "the container file cannot be opened for writing");
    FileClose(kit);
    return code;
  }
  code = InflateOpenFiles(kit, container, max_container_bytes, failure);
  // Closing the container can report a delayed write failure.
  const ErrorCode close_code = FileClose(container);
  FileClose(kit);
  if (code == kSuccess && close_code != kSuccess) {
    SetFailure(failure, "closing the container file failed");
    code = close_code;
  }
  return code;
}
