#include "kit/inflate_kit.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fs/file_handle.h"
#include "fs/system_error.h"
#include "kit/raw_inflater.h"
#include "kit/stream_digest.h"

static void SetFailure(NarrowString* failure, const char* text) {
  if (failure != nullptr) *failure = text;
}

// text, then the system's reason for the call that just failed.
static void SetSystemFailure(NarrowString* failure, const char* text) {
  if (failure == nullptr) return;
  const int error = errno;
  *failure = text;
  failure->Append(": ");
  failure->Append(std::strerror(error));
}

// Inflated bytes on their way to the container: collected until the buffer is full, so
// that the container is written in large pieces whatever the size of the pieces read.
// A watch may stop the storing; the bytes are still counted, so that the container's length
// is known whether or not it was written.
class ContainerOutput {
 public:
  ContainerOutput(FileHandle container, int64_t container_start, uint64_t max_bytes,
                  InflateWatch* watch)
      : container_(container),
        container_start_(container_start),
        max_bytes_(max_bytes),
        watch_(watch),
        buffer_(kInflateOutputBytes) {}

  // The free part of the buffer.
  unsigned char* Free() { return buffer_.data() + filled_; }
  std::size_t FreeBytes() const { return buffer_.size() - filled_; }

  // Takes produced more bytes at Free(); writes the buffer out when it is full.
  ErrorCode Take(std::size_t produced, NarrowString* failure) {
    filled_ += produced;
    total_ += produced;
    if (total_ > max_bytes_) {
      SetFailure(failure, "the kit inflates to more than a container can hold");
      return kErrorInvalidData;
    }
    return filled_ == buffer_.size() ? Flush(failure) : kSuccess;
  }

  ErrorCode Flush(NarrowString* failure) {
    if (filled_ == 0) return kSuccess;
    if (storing_ && watch_ != nullptr && !watch_->Take(buffer_.data(), filled_)) StopStoring();
    if (!storing_) {
      filled_ = 0;
      return kSuccess;
    }
    uint32_t count = 0;
    const ErrorCode code =
        FileWrite(container_, buffer_.data(), static_cast<uint32_t>(filled_), &count, nullptr);
    if (code != kSuccess) SetSystemFailure(failure, "writing the container file failed");
    filled_ = 0;
    return code;
  }

  uint64_t Total() const { return total_; }
  bool Storing() const { return storing_; }

  // What was written goes again, so that its space is free at once. A cut that fails only
  // leaves bytes that nobody reads: the container is known not to hold its data, and the
  // final cut of the inflation, or a later one into the same file, ends it where it ends.
  void StopStoring() {
    storing_ = false;
    if (FileSeek(container_, container_start_, kFileSeekBegin) == container_start_) {
      FileTruncateHere(container_);
    }
  }

 private:
  FileHandle container_;
  int64_t container_start_;
  uint64_t max_bytes_;
  InflateWatch* watch_;
  bool storing_ = true;
  std::vector<unsigned char> buffer_;
  std::size_t filled_ = 0;
  uint64_t total_ = 0;
};

// The digest of the stream's bytes before offset.
struct DigestCheckpoint {
  StreamDigest digest;
  uint64_t offset = 0;
};

static ErrorCode DigestFailure(NarrowString* failure) {
  SetFailure(failure, "the end of the kit's stream cannot be placed");
  return kErrorInvalidData;
}

// Adds the kit's bytes [from, to) to digest, read again through buffer (kInflateInputBytes).
static ErrorCode AddKitBytes(FileHandle kit, uint64_t from, uint64_t to, StreamDigest* digest,
                             unsigned char* buffer) {
  while (from < to) {
    const uint64_t left = to - from;
    const uint32_t wanted =
        static_cast<uint32_t>(left < kInflateInputBytes ? left : kInflateInputBytes);
    uint32_t got = 0;
    const ErrorCode code = FileReadAt(kit, from, buffer, wanted, &got);
    if (code != kSuccess) return code;
    if (got == 0) return kErrorInvalidData;
    digest->Add(buffer, got);
    from += got;
  }
  return kSuccess;
}

// Reads the kit piece by piece and runs it through the inflater into the container. Returns
// the code that ends the inflation; *status is the inflater's last verdict. Every byte of
// the stream that the inflater takes goes into *digest; *stream_bytes is the length taken.
static ErrorCode InflateInto(FileHandle kit, uint64_t kit_size, ContainerOutput* output,
                             RawInflater* inflater, RawInflater::Status* status,
                             StreamDigest* digest, uint64_t* stream_bytes,
                             NarrowString* failure) {
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kInflateInputBytes]);
  // The digest as it stood at the start of the previous and of the current piece: the end
  // of the stream lies in one of them when the engine took bytes past it.
  DigestCheckpoint previous, current;
  for (uint64_t offset = 0; offset < kit_size;) {
    previous = current;
    current = DigestCheckpoint{*digest, offset};
    const uint64_t left = kit_size - offset;
    const uint32_t wanted =
        static_cast<uint32_t>(left < kInflateInputBytes ? left : kInflateInputBytes);
    uint32_t got = 0;
    const ErrorCode read = FileReadAt(kit, offset, piece.get(), wanted, &got);
    if (read != kSuccess) {
      SetSystemFailure(failure, "the kit file cannot be read");
      return read;
    }
    // A kit that shrank while it was read ends where it ends now.
    if (got == 0) break;
    offset += got;
    const unsigned char* input = piece.get();
    std::size_t input_left = static_cast<std::size_t>(got);
    ErrorCode code = kSuccess;
    bool output_was_full = false;
    do {
      // The buffer is never full here: Take writes it out as soon as it fills.
      unsigned char* next = output->Free();
      std::size_t space = output->FreeBytes();
      const std::size_t offered = space;
      *status = inflater->Inflate(&input, &input_left, &next, &space);
      output_was_full = space == 0;
      code = output->Take(offered - space, failure);
    } while (code == kSuccess && *status == RawInflater::Status::kMore &&
             (output_was_full || input_left > 0));
    const std::size_t taken = static_cast<std::size_t>(got) - input_left;
    digest->Add(piece.get(), taken);
    *stream_bytes += taken;
    if (code != kSuccess) return code;
    if (*status == RawInflater::Status::kEnded && inflater->BytesTakenPastEnd() > 0) {
      const uint64_t past = inflater->BytesTakenPastEnd();
      if (past > *stream_bytes) return DigestFailure(failure);
      *stream_bytes -= past;
      const DigestCheckpoint& start = *stream_bytes >= current.offset ? current : previous;
      if (*stream_bytes < start.offset) return DigestFailure(failure);
      *digest = start.digest;
      const ErrorCode read = AddKitBytes(kit, start.offset, *stream_bytes, digest, piece.get());
      if (read != kSuccess) {
        SetSystemFailure(failure, "the kit file cannot be read");
        return read;
      }
    }
    // Once the stream has ended or failed, the rest of the kit is not read.
    if (*status != RawInflater::Status::kMore) break;
  }
  return output->Flush(failure);
}

// InflateInto with the container's output made here; end receives the stream's length and
// the container's, and whether it was stored.
static ErrorCode InflatePieces(FileHandle kit, uint64_t kit_size, FileHandle container,
                               int64_t container_start, uint64_t max_container_bytes,
                               InflateWatch* watch, RawInflater* inflater,
                               RawInflater::Status* status, StreamDigest* digest,
                               KitStreamEnd* end, NarrowString* failure) {
  ContainerOutput output(container, container_start, max_container_bytes, watch);
  const ErrorCode code = InflateInto(kit, kit_size, &output, inflater, status, digest,
                                     &end->stream_bytes, failure);
  if (code == kSuccess && output.Storing() && watch != nullptr && !watch->Finish()) {
    output.StopStoring();
  }
  end->container_bytes = output.Total();
  end->stored = output.Storing();
  return code;
}

// Inflates with engine from the kit's start into the container from container_start.
static ErrorCode InflateWithEngine(RawInflater::Engine engine, FileHandle kit, uint64_t kit_size,
                                   FileHandle container, int64_t container_start,
                                   uint64_t max_container_bytes, RawInflater::Status* status,
                                   const char** engine_text, KitStreamEnd* end,
                                   InflateWatch* watch, NarrowString* failure) {
  if (FileSeek(container, container_start, kFileSeekBegin) != container_start) {
    SetSystemFailure(failure, "the container file cannot be written from its start");
    return LastErrorCode();
  }
  RawInflater inflater(engine);
  if (!inflater.Ready()) {
    SetFailure(failure, "the inflate stream cannot be set up");
    return kErrorInvalidParameter;
  }
  *status = RawInflater::Status::kMore;
  StreamDigest digest;
  end->stream_bytes = 0;
  if (watch != nullptr) watch->Restart();
  const ErrorCode code = InflatePieces(kit, kit_size, container, container_start,
                                       max_container_bytes, watch, &inflater, status, &digest,
                                       end, failure);
  *engine_text = inflater.FailureText();
  digest.Finish(end->digest);
  return code;
}

// The bytes after the stream, as many as a trailer has, into end->tail.
static ErrorCode ReadTail(FileHandle kit, uint64_t kit_size, KitStreamEnd* end,
                          NarrowString* failure) {
  end->tail.clear();
  if (end->stream_bytes >= kit_size) return kSuccess;
  const uint64_t left = kit_size - end->stream_bytes;
  end->tail.resize(static_cast<std::size_t>(left < kTrailerBytes ? left : kTrailerBytes));
  uint32_t got = 0;
  const ErrorCode code = FileReadAt(kit, end->stream_bytes, end->tail.data(),
                                    static_cast<uint32_t>(end->tail.size()), &got);
  if (code != kSuccess) {
    SetSystemFailure(failure, "the kit file cannot be read after its stream");
    return code;
  }
  end->tail.resize(got);
  return kSuccess;
}

static ErrorCode InflateOpenFiles(FileHandle kit, FileHandle container,
                                  uint64_t max_container_bytes, KitStreamEnd* end,
                                  InflateWatch* watch, NarrowString* failure) {
  const int64_t kit_size = FileSeek(kit, 0, kFileSeekEnd);
  const int64_t container_start = FileSeek(container, 0, kFileSeekCurrent);
  if (kit_size < 0 || container_start < 0) {
    SetSystemFailure(failure, "the size of the kit file cannot be taken");
    return LastErrorCode();
  }
  RawInflater::Engine engine = RawInflater::DefaultEngine();
  RawInflater::Status status = RawInflater::Status::kMore;
  const char* engine_text = "";
  ErrorCode code = InflateWithEngine(engine, kit, static_cast<uint64_t>(kit_size), container,
                                     container_start, max_container_bytes, &status,
                                     &engine_text, end, watch, failure);
  if (code == kSuccess && status != RawInflater::Status::kEnded &&
      engine != RawInflater::Engine::kZlib) {
    // A stream that does not end cleanly is judged by zlib, as every build judges it: ISA-L
    // notices some damage only later in the stream, or not before the input runs out.
    engine = RawInflater::Engine::kZlib;
    code = InflateWithEngine(engine, kit, static_cast<uint64_t>(kit_size), container,
                             container_start, max_container_bytes, &status, &engine_text,
                             end, watch, failure);
  }
  if (code != kSuccess) return code;
  if (status == RawInflater::Status::kFailed) {
    if (failure != nullptr) {
      *failure = "the kit is not valid DEFLATE data: ";
      failure->Append(engine_text);
    }
    return kErrorInvalidData;
  }
  end->ended = status == RawInflater::Status::kEnded;
  if (end->ended) {
    code = ReadTail(kit, static_cast<uint64_t>(kit_size), end, failure);
    if (code != kSuccess) return code;
  }
  // A container file that already held more bytes must end where the inflated data ends.
  code = FileTruncateHere(container);
  if (code != kSuccess) {
    SetSystemFailure(failure, "the container file cannot be cut to its length");
  }
  return code;
}

static ErrorCode OpenKit(const WideString& kit_path, FileHandle* kit, NarrowString* failure) {
  const ErrorCode code =
      FileOpen(kit_path, kFileAccessRead, 0, kFileOpenExisting, kit, kSequentialFileAttributes);
  if (code != kSuccess) SetSystemFailure(failure, "the kit file cannot be opened");
  return code;
}

ErrorCode InflateKitInto(const WideString& kit_path, FileHandle container, NarrowString* failure,
                         uint64_t max_container_bytes, KitStreamEnd* end, InflateWatch* watch) {
  FileHandle kit = kNoFileHandle;
  const ErrorCode code = OpenKit(kit_path, &kit, failure);
  if (code != kSuccess) return code;
  KitStreamEnd unused;
  const ErrorCode inflated = InflateOpenFiles(kit, container, max_container_bytes,
                                              end != nullptr ? end : &unused, watch, failure);
  FileClose(kit);
  return inflated;
}

ErrorCode InflateKit(const WideString& kit_path, const WideString& container_path,
                     NarrowString* failure, uint64_t max_container_bytes, KitStreamEnd* end) {
  // The kit first: when both cannot be opened, the kit's failure is the one reported, and a
  // kit that cannot be opened leaves the container file alone.
  FileHandle kit = kNoFileHandle;
  ErrorCode code = OpenKit(kit_path, &kit, failure);
  if (code != kSuccess) return code;
  FileHandle container = kNoFileHandle;
  code = FileOpen(container_path, kFileAccessWrite, 0, kFileCreateAlways, &container,
                  kNormalFileAttributes);
  if (code != kSuccess) {
    SetSystemFailure(failure, "the container file cannot be opened for writing");
    FileClose(kit);
    return code;
  }
  KitStreamEnd unused;
  code = InflateOpenFiles(kit, container, max_container_bytes, end != nullptr ? end : &unused,
                          nullptr, failure);
  FileClose(kit);
  // Closing the container can report a delayed write failure.
  const ErrorCode close_code = FileClose(container);
  if (code == kSuccess && close_code != kSuccess) {
    SetSystemFailure(failure, "closing the container file failed");
    code = close_code;
  }
  return code;
}
