#include "install/journal.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "fs/file_layer.h"

namespace {

constexpr std::size_t kTimePayloadBytes = 12;

void AppendUint32(uint32_t value, NarrowString* out) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  out->Append(bytes, 4);
}

uint32_t ReadUint32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void AppendTime(const JournalRecord& record, NarrowString* out) {
  const uint64_t seconds = static_cast<uint64_t>(record.seconds);
  AppendUint32(static_cast<uint32_t>(seconds), out);
  AppendUint32(static_cast<uint32_t>(seconds >> 32), out);
  AppendUint32(record.nanoseconds, out);
}

bool DecodeTime(const unsigned char* payload, JournalRecord* record) {
  const uint64_t seconds = static_cast<uint64_t>(ReadUint32(payload)) |
                           (static_cast<uint64_t>(ReadUint32(payload + 4)) << 32);
  record->seconds = static_cast<int64_t>(seconds);
  record->nanoseconds = ReadUint32(payload + 8);
  return record->nanoseconds < 1000000000u;
}

bool IsPathKind(uint8_t kind) {
  switch (static_cast<JournalKind>(kind)) {
    case JournalKind::kMadeDirectory:
    case JournalKind::kNewFile:
    case JournalKind::kTempFile:
    case JournalKind::kBackedUp:
      return true;
    default:
      return false;
  }
}

// Fills *record from a payload of its kind; false when the payload does not fit the kind.
bool DecodePayload(uint8_t kind, const unsigned char* payload, uint32_t length,
                   JournalRecord* record) {
  record->kind = static_cast<JournalKind>(kind);
  const char* text = reinterpret_cast<const char*>(payload);
  if (IsPathKind(kind)) {
    record->path = NarrowString(text, length);
    return true;
  }
  switch (static_cast<JournalKind>(kind)) {
    case JournalKind::kMadeTarget:
      if (length != 4 + kTimePayloadBytes) return false;
      record->levels = ReadUint32(payload);
      return DecodeTime(payload + 4, record);
    case JournalKind::kDirectoryTime:
      if (length < kTimePayloadBytes || !DecodeTime(payload, record)) return false;
      record->path = NarrowString(text + kTimePayloadBytes, length - kTimePayloadBytes);
      return true;
    case JournalKind::kRetracted:
      if (length < 1 || !IsPathKind(payload[0])) return false;
      record->retracted = static_cast<JournalKind>(payload[0]);
      record->path = NarrowString(text + 1, length - 1);
      return true;
    default:
      return false;
  }
}

}  // namespace

void EncodeJournalRecord(const JournalRecord& record, NarrowString* out) {
  NarrowString payload;
  switch (record.kind) {
    case JournalKind::kMadeTarget:
      AppendUint32(record.levels, &payload);
      AppendTime(record, &payload);
      break;
    case JournalKind::kDirectoryTime:
      AppendTime(record, &payload);
      payload.Append(record.path.Data(), record.path.Length());
      break;
    case JournalKind::kRetracted: {
      const char kind = static_cast<char>(record.retracted);
      payload.Append(&kind, 1);
      payload.Append(record.path.Data(), record.path.Length());
      break;
    }
    default:
      payload = record.path;
      break;
  }
  const char kind = static_cast<char>(record.kind);
  out->Append(&kind, 1);
  AppendUint32(static_cast<uint32_t>(payload.Length()), out);
  out->Append(payload.Data(), payload.Length());
}

bool DecodeJournal(const char* data, std::size_t size, std::vector<JournalRecord>* records) {
  records->clear();
  // A journal killed while its magic was written holds a part of it, and no record.
  if (size < kJournalMagicBytes) return std::memcmp(data, kJournalMagic, size) == 0;
  if (std::memcmp(data, kJournalMagic, kJournalMagicBytes) != 0) return false;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  std::size_t position = kJournalMagicBytes;
  while (size - position >= kJournalRecordHeaderBytes) {
    const uint8_t kind = bytes[position];
    const uint32_t length = ReadUint32(bytes + position + 1);
    if (length > kJournalMaxPayloadBytes ||
        length > size - position - kJournalRecordHeaderBytes) {
      break;
    }
    JournalRecord record;
    if (!DecodePayload(kind, bytes + position + kJournalRecordHeaderBytes, length, &record)) {
      break;
    }
    records->push_back(record);
    position += kJournalRecordHeaderBytes + length;
  }
  return true;
}

ErrorCode ReadJournalFile(const NarrowString& path, std::vector<JournalRecord>* records,
                          bool* valid) {
  records->clear();
  *valid = false;
  const int descriptor = open(path.CStr(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return ErrorCodeFromErrno(errno);
  NarrowString bytes;
  char chunk[65536];
  int error = 0;
  for (;;) {
    const ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    bytes.Append(chunk, static_cast<std::size_t>(got));
  }
  close(descriptor);
  if (error != 0) return ErrorCodeFromErrno(error);
  *valid = DecodeJournal(bytes.Data(), bytes.Length(), records);
  return kSuccess;
}

JournalWriter::~JournalWriter() { Close(); }

ErrorCode JournalWriter::Create(const NarrowString& path) {
  Close();
  descriptor_ = open(path.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                     kJournalFileMode);
  if (descriptor_ < 0) return ErrorCodeFromErrno(errno);
  queued_.Clear();
  queued_.Append(kJournalMagic, kJournalMagicBytes);
  return kSuccess;
}

ErrorCode JournalWriter::OpenForAppend(const NarrowString& path) {
  Close();
  descriptor_ = open(path.CStr(), O_WRONLY | O_NOFOLLOW | O_APPEND | O_CLOEXEC);
  if (descriptor_ < 0) return ErrorCodeFromErrno(errno);
  queued_.Clear();
  return kSuccess;
}

void JournalWriter::Add(const JournalRecord& record) { EncodeJournalRecord(record, &queued_); }

ErrorCode JournalWriter::Flush() {
  if (queued_.Empty()) return kSuccess;
  if (descriptor_ < 0) return kErrorInvalidHandle;
  std::size_t done = 0;
  while (done < queued_.Length()) {
    const ssize_t written = write(descriptor_, queued_.Data() + done, queued_.Length() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      // What reached the file is a whole prefix of records or a cut one; either reads back
      // as the records before the cut, and the queue is written again after them.
      if (done > 0) queued_ = NarrowString(queued_.Data() + done, queued_.Length() - done);
      return ErrorCodeFromErrno(error);
    }
    done += static_cast<std::size_t>(written);
  }
  queued_.Clear();
  return kSuccess;
}

void JournalWriter::Close() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  queued_.Clear();
}
