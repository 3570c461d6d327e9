#include "install/journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "fs/system_error.h"

namespace {

constexpr std::size_t kTimePayloadBytes = 12;
// kMadeIdentity: the kind, device, inode, size and time before the path.
constexpr uint32_t kIdentityPayloadBytes = 37;

void AppendUint32(uint32_t value, NarrowString* out) {
  char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  out->Append(bytes, 4);
}

uint32_t ReadUint32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

uint64_t ReadUint64(const unsigned char* bytes) {
  return static_cast<uint64_t>(ReadUint32(bytes)) |
         (static_cast<uint64_t>(ReadUint32(bytes + 4)) << 32);
}

void AppendUint64(uint64_t value, NarrowString* out) {
  AppendUint32(static_cast<uint32_t>(value), out);
  AppendUint32(static_cast<uint32_t>(value >> 32), out);
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
    case JournalKind::kMadeIdentity: {
      if (length < kIdentityPayloadBytes) return false;
      const JournalKind made = static_cast<JournalKind>(payload[0]);
      if (made != JournalKind::kMadeDirectory && made != JournalKind::kNewFile) return false;
      record->retracted = made;
      record->identity.device = ReadUint64(payload + 1);
      record->identity.inode = ReadUint64(payload + 9);
      record->identity.size = ReadUint64(payload + 17);
      record->identity.seconds = static_cast<int64_t>(ReadUint64(payload + 25));
      record->identity.nanoseconds = ReadUint32(payload + 33);
      if (record->identity.nanoseconds >= 1000000000u) return false;
      record->path =
          NarrowString(text + kIdentityPayloadBytes, length - kIdentityPayloadBytes);
      return true;
    }
    case JournalKind::kOwner: {
      record->path = NarrowString(text, length);
      RunOwner owner;
      return ReadRunOwner(*record, &owner);
    }
    default:
      return false;
  }
}

}  // namespace

JournalRecord RunOwnerRecord(const RunOwner& owner) {
  // Built whole, then taken as the record's bytes.
  std::string payload;
  for (int i = 0; i < 4; ++i) payload.push_back(static_cast<char>((owner.pid >> (8 * i)) & 0xFF));
  for (int i = 0; i < 8; ++i) {
    payload.push_back(static_cast<char>((owner.start_ticks >> (8 * i)) & 0xFF));
  }
  // The run number, padded with "0" or cut to its fixed length.
  for (std::size_t i = 0; i < kRunNumberBytes; ++i) {
    payload.push_back(i < owner.run_number.Length() ? owner.run_number[i] : '0');
  }
  const std::size_t boot_length = owner.boot_id.Length() < 255 ? owner.boot_id.Length() : 255;
  payload.push_back(static_cast<char>(boot_length));
  payload.append(owner.boot_id.Data(), boot_length);
  payload.append(owner.host.Data(), owner.host.Length());
  JournalRecord record;
  record.kind = JournalKind::kOwner;
  record.path = NarrowString(payload.data(), payload.size());
  return record;
}

bool ReadRunOwner(const JournalRecord& record, RunOwner* owner) {
  constexpr std::size_t kFixed = 4 + 8 + kRunNumberBytes + 1;
  const std::size_t length = record.path.Length();
  if (record.kind != JournalKind::kOwner || length < kFixed) return false;
  const unsigned char* payload = reinterpret_cast<const unsigned char*>(record.path.Data());
  const char* text = record.path.Data();
  const std::size_t boot_length = payload[12 + kRunNumberBytes];
  if (length - kFixed < boot_length) return false;
  owner->pid = ReadUint32(payload);
  owner->start_ticks = ReadUint64(payload + 4);
  owner->run_number = NarrowString(text + 12, kRunNumberBytes);
  owner->boot_id = NarrowString(text + kFixed, boot_length);
  owner->host = NarrowString(text + kFixed + boot_length, length - kFixed - boot_length);
  return true;
}

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
    case JournalKind::kMadeIdentity: {
      const char kind = static_cast<char>(record.retracted);
      payload.Append(&kind, 1);
      AppendUint64(record.identity.device, &payload);
      AppendUint64(record.identity.inode, &payload);
      AppendUint64(record.identity.size, &payload);
      AppendUint64(static_cast<uint64_t>(record.identity.seconds), &payload);
      AppendUint32(record.identity.nanoseconds, &payload);
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

bool DecodeJournal(const char* data, std::size_t size, std::vector<JournalRecord>* records,
                   std::size_t* whole_bytes) {
  records->clear();
  if (whole_bytes != nullptr) *whole_bytes = size < kJournalMagicBytes ? 0 : kJournalMagicBytes;
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
    if (records->size() == kJournalMaxRecords) {
      records->clear();
      return false;
    }
    records->push_back(record);
    position += kJournalRecordHeaderBytes + length;
    if (whole_bytes != nullptr) *whole_bytes = position;
  }
  return true;
}

ErrorCode ReadJournal(int descriptor, std::vector<JournalRecord>* records, bool* valid,
                      std::size_t* whole_bytes) try {
  records->clear();
  *valid = false;
  NarrowString bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return ErrorCodeFromErrno(errno);
    }
    if (got == 0) break;
    // A journal that grows while it is read is no journal of a run that has ended.
    if (bytes.Length() + static_cast<std::size_t>(got) > kJournalMaxBytes) {
      return kErrorInvalidData;
    }
    bytes.Append(chunk, static_cast<std::size_t>(got));
  }
  *valid = DecodeJournal(bytes.Data(), bytes.Length(), records, whole_bytes);
  return kSuccess;
} catch (const std::bad_alloc&) {
  records->clear();
  *valid = false;
  return kErrorDiskFull;
}

JournalWriter::~JournalWriter() { Close(); }

ErrorCode JournalWriter::Create(int folder, const char* name) {
  Close();
  descriptor_ = openat(folder, name,
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                       kJournalFileMode);
  if (descriptor_ < 0) return ErrorCodeFromErrno(errno);
  queued_.Clear();
  queued_.Append(kJournalMagic, kJournalMagicBytes);
  written_ = synced_ = 0;
  records_ = 0;
  return kSuccess;
}

ErrorCode JournalWriter::OpenForAppend(int folder, const char* name, std::size_t whole_bytes) {
  Close();
  descriptor_ = openat(folder, name, O_WRONLY | O_NOFOLLOW | O_APPEND | O_CLOEXEC);
  if (descriptor_ < 0) return ErrorCodeFromErrno(errno);
  if (ftruncate64(descriptor_, static_cast<off64_t>(whole_bytes)) != 0) {
    const int error = errno;
    Close();
    return ErrorCodeFromErrno(error);
  }
  struct stat64 status;
  written_ = synced_ = fstat64(descriptor_, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  queued_.Clear();
  return kSuccess;
}

ErrorCode JournalWriter::Sync() {
  ErrorCode code = Flush();
  if (code != kSuccess) return code;
  if (synced_ == written_) return kSuccess;
  if (fdatasync(descriptor_) != 0) return ErrorCodeFromErrno(errno);
  synced_ = written_;
  return kSuccess;
}

void JournalWriter::Add(const JournalRecord& record) {
  EncodeJournalRecord(record, &queued_);
  ++records_;
}

ErrorCode JournalWriter::Flush() {
  if (queued_.Empty()) return kSuccess;
  if (descriptor_ < 0) return kErrorInvalidHandle;
  if (written_ + queued_.Length() > kJournalMaxBytes || records_ >= kJournalMaxRecords) {
    return kErrorDiskFull;
  }
  std::size_t done = 0;
  while (done < queued_.Length()) {
    const ssize_t written = write(descriptor_, queued_.Data() + done, queued_.Length() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      // What reached the file is a whole prefix of records or a cut one; either reads back
      // as the records before the cut, and the queue is written again after them.
      if (done > 0) queued_ = NarrowString(queued_.Data() + done, queued_.Length() - done);
      written_ += done;
      return ErrorCodeFromErrno(error);
    }
    done += static_cast<std::size_t>(written);
  }
  written_ += done;
  queued_.Clear();
  return kSuccess;
}

void JournalWriter::Close() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  queued_.Clear();
}
