#include "kit/kit_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "kit/container_records.h"
#include "kit/raw_deflate_file.h"
#include "text/locale_conversions.h"

// Piece size in which file contents are streamed into the container.
static constexpr uint32_t kStreamPieceBytes = 65536;

static ErrorCode Failed(ErrorCode code, NarrowString* failure, const NarrowString& text) {
  if (failure != nullptr) *failure = text;
  return code;
}

// text, then the system's reason for the call that just failed.
static NarrowString WithReason(const NarrowString& text) {
  return text + ": " + std::strerror(errno);
}

static NarrowString Quoted(const WideString& text) {
  return NarrowString("\"") + ToLocaleBytes(text) + "\"";
}

// The container's plain bytes into a file.
class PlainFileSink : public ByteSink {
 public:
  explicit PlainFileSink(FileHandle file) : file_(file) {}
  ErrorCode Write(const unsigned char* data, std::size_t length) override {
    while (length > 0) {
      const uint32_t piece =
          length < kStreamPieceBytes ? static_cast<uint32_t>(length) : kStreamPieceBytes;
      uint32_t written = 0;
      const ErrorCode code = FileWrite(file_, data, piece, &written, nullptr);
      if (code != kSuccess) return code;
      data += piece;
      length -= piece;
    }
    return kSuccess;
  }

 private:
  FileHandle file_;
};

static void RemoveFile(const WideString& path) {
  NarrowString bytes;
  if (ToLocaleBytesExact(path, &bytes)) unlink(bytes.CStr());
}

void KitWriter::AddDescription(const KitInfo& info) { descriptions_.push_back(info); }

ErrorCode KitWriter::AddEntry(const WideString& name, const FileTime& time,
                              std::vector<unsigned char> data) {
  if (!FitsUint32(data.size())) return kErrorInvalidParameter;
  const uint32_t size = static_cast<uint32_t>(data.size());
  entries_.push_back(PendingEntry{name, time, size, std::move(data), WideString()});
  return kSuccess;
}

ErrorCode KitWriter::AddFileEntry(const WideString& name, const FileTime& time,
                                  const WideString& source_path) {
  FileHandle file = kNoFileHandle;
  ErrorCode code = FileOpen(source_path, kFileAccessRead, 0, kFileOpenExisting, &file,
                            kSequentialFileAttributes);
  if (code != kSuccess) return code;
  const int64_t size = FileSeek(file, 0, kFileSeekEnd);
  code = size < 0 ? LastErrorCode() : kSuccess;
  FileClose(file);
  if (code != kSuccess) return code;
  if (!FitsUint32(static_cast<uint64_t>(size))) return kErrorInvalidParameter;
  entries_.push_back(PendingEntry{name, time, static_cast<uint32_t>(size), {}, source_path});
  return kSuccess;
}

static uint64_t StringBytes(const WideString& text) {
  return kFieldBytes + static_cast<uint64_t>(text.Length()) * kUnitBytes;
}

uint64_t KitWriter::ContainerBytes() const {
  uint64_t bytes = kFieldBytes;  // layout flag
  if (layout_flag_ == kLayoutSingleDescription) {
    const KitInfo none;
    const KitInfo& info = descriptions_.empty() ? none : descriptions_.front();
    bytes += StringBytes(info.product) + StringBytes(info.vendor) + StringBytes(info.description);
  } else {
    bytes += kFieldBytes;
    for (const KitInfo& info : descriptions_) {
      bytes += kFieldBytes + StringBytes(info.language) + StringBytes(info.product) +
               StringBytes(info.vendor) + StringBytes(info.description);
    }
  }
  bytes += kFieldBytes;  // entry count
  for (const PendingEntry& entry : entries_) {
    bytes += kEntryRecordFixedBytes + static_cast<uint64_t>(entry.name.Length()) * kUnitBytes +
             entry.size;
  }
  return bytes;
}

ErrorCode KitWriter::EncodeRecords(std::vector<unsigned char>* out, NarrowString* failure) const {
  const ErrorCode too_long = kErrorInvalidParameter;
  AppendUint32(layout_flag_, out);
  if (layout_flag_ == kLayoutSingleDescription) {
    if (descriptions_.size() > 1) {
      return Failed(too_long, failure, "layout A holds at most one description");
    }
    const KitInfo none;
    const KitInfo& info = descriptions_.empty() ? none : descriptions_.front();
    if (!AppendCountedString(info.product, out) || !AppendCountedString(info.vendor, out) ||
        !AppendCountedString(info.description, out)) {
      return Failed(too_long, failure, "a description string is too long");
    }
  } else {
    AppendUint32(static_cast<uint32_t>(descriptions_.size()), out);
    for (const KitInfo& info : descriptions_) {
      if (!AppendDescriptionRecord(info, out)) {
        return Failed(too_long, failure, "a description record is too long");
      }
    }
  }
  if (!FitsUint32(entries_.size())) {
    return Failed(too_long, failure, "too many entries");
  }
  AppendUint32(static_cast<uint32_t>(entries_.size()), out);
  uint32_t offset = 0;
  for (const PendingEntry& pending : entries_) {
    const KitEntry entry{pending.name, pending.time, offset, pending.size};
    if (!AppendEntryRecord(entry, out)) {
      return Failed(too_long, failure,
                    NarrowString("the name is too long: ") + Quoted(pending.name));
    }
    offset += pending.size;  // cannot wrap: the whole container was checked to fit
  }
  return kSuccess;
}

ErrorCode KitWriter::StreamFile(const PendingEntry& entry, ByteSink* sink,
                                NarrowString* failure) const {
  FileHandle file = kNoFileHandle;
  ErrorCode code = FileOpen(entry.source_path, kFileAccessRead, 0, kFileOpenExisting, &file,
                            kSequentialFileAttributes);
  if (code != kSuccess) {
    return Failed(code, failure, NarrowString("cannot open ") + Quoted(entry.source_path));
  }
  std::vector<unsigned char> piece(kStreamPieceBytes);
  uint32_t remaining = entry.size;
  while (code == kSuccess) {
    // One byte more than the entry needs at the end shows a file that has grown.
    const uint32_t wanted = remaining < kStreamPieceBytes ? remaining + 1 : kStreamPieceBytes;
    uint32_t count = 0;
    code = FileRead(file, piece.data(), wanted, &count, nullptr);
    if (code != kSuccess) {
      Failed(code, failure, NarrowString("cannot read ") + Quoted(entry.source_path));
      break;
    }
    if (count > remaining || (count < wanted && count != remaining)) {
      code = Failed(kErrorInvalidParameter, failure,
                    Quoted(entry.source_path) + " changed its size while it was packed");
      break;
    }
    code = sink->Write(piece.data(), count);
    if (code != kSuccess) {
      Failed(code, failure, WithReason("writing the kit failed"));
      break;
    }
    remaining -= count;
    if (count < wanted) break;  // the end of the file, exactly where the entry ends
  }
  FileClose(file);
  return code;
}

ErrorCode KitWriter::WriteTo(ByteSink* sink, NarrowString* failure) const {
  const uint64_t total = ContainerBytes();
  if (total > kMaxContainerBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "the container would have %" PRIu64 " bytes (4 GiB at most)",
                  total);
    return Failed(kErrorInvalidParameter, failure, text);
  }
  std::vector<unsigned char> records;
  ErrorCode code = EncodeRecords(&records, failure);
  if (code != kSuccess) return code;
  code = sink->Write(records.data(), records.size());
  if (code != kSuccess) return Failed(code, failure, WithReason("writing the kit failed"));
  for (const PendingEntry& entry : entries_) {
    if (entry.source_path.Empty()) {
      code = sink->Write(entry.data.data(), entry.data.size());
      if (code != kSuccess) return Failed(code, failure, WithReason("writing the kit failed"));
    } else {
      code = StreamFile(entry, sink, failure);
      if (code != kSuccess) return code;
    }
  }
  return kSuccess;
}

ErrorCode KitWriter::WriteKit(const WideString& kit_path, NarrowString* failure) const {
  RawDeflateFile kit;
  ErrorCode code = kit.Create(kit_path, compression_level_);
  if (code != kSuccess) {
    const char* reason = std::strerror(errno);
    return Failed(code, failure, NarrowString("cannot create ") + Quoted(kit_path) + ": " + reason);
  }
  code = WriteTo(&kit, failure);
  if (code == kSuccess) code = FinishKit(&kit, failure);
  if (code != kSuccess) {
    kit.Abandon();
    RemoveFile(kit_path);
  }
  return code;
}

ErrorCode KitWriter::FinishKit(RawDeflateFile* kit, NarrowString* failure) const {
  KitTrailer trailer;
  ErrorCode code = kit->EndStream(trailer.digest);
  if (code == kSuccess && with_trailer_) {
    if (signed_ && !SignTrailer(signing_key_, &trailer)) {
      return Failed(kErrorInvalidParameter, failure,
                    "the kit cannot be signed: the secret key is not a sound Ed25519 key");
    }
    unsigned char bytes[kTrailerBytes];
    EncodeTrailer(trailer, bytes);
    code = kit->AppendAfterStream(bytes, sizeof bytes);
  }
  if (code == kSuccess) code = kit->Close();
  if (code != kSuccess) {
    Failed(code, failure, WithReason("finishing the kit failed"));
  }
  return code;
}

ErrorCode KitWriter::WriteContainer(const WideString& path, NarrowString* failure) const {
  FileHandle file = kNoFileHandle;
  ErrorCode code =
      FileOpen(path, kFileAccessWrite, 0, kFileCreateAlways, &file, kNormalFileAttributes);
  if (code != kSuccess) return Failed(code, failure, NarrowString("cannot create ") + Quoted(path));
  PlainFileSink sink(file);
  code = WriteTo(&sink, failure);
  if (code == kSuccess) {
    code = FileTruncateHere(file);
    if (code != kSuccess) Failed(code, failure, "cutting the container file failed");
  }
  const ErrorCode close_code = FileClose(file);
  if (code == kSuccess && close_code != kSuccess) {
    code = Failed(close_code, failure, "closing the container file failed");
  }
  if (code != kSuccess) RemoveFile(path);
  return code;
}
