#include "kit/container_reader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "kit/container_format.h"
#include "kit/container_records.h"
#include "kit/entry_path.h"
#include "kit/little_endian.h"
#include "kit/record_cursor.h"
#include "text/locale_conversions.h"

// What ends the reading: the code and why. Raised inside this file only, and turned back
// into the return code at ReadContainer's boundary.
struct ContainerFault {
  ErrorCode code;
  NarrowString reason;
};

// Builds the failure texts: literal pieces and numbers.
class Reason {
 public:
  Reason& operator<<(const char* text) {
    text_.Append(text);
    return *this;
  }
  Reason& operator<<(const NarrowString& text) {
    text_.Append(text);
    return *this;
  }
  Reason& operator<<(uint64_t number) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%" PRIu64, number);
    text_.Append(digits);
    return *this;
  }
  const NarrowString& Text() const { return text_; }

 private:
  NarrowString text_;
};

// The bytes in hand end before the records do: raised only when reading the first bytes of a
// container whose end is not known yet.
struct PrefixEnd {};

[[noreturn]] static void Fail(ErrorCode code, const Reason& reason) {
  throw ContainerFault{code, reason.Text()};
}

// How much of the container is read ahead in one system read: the records are small, and a
// read per field would cost more than the parsing of the whole table.
constexpr uint32_t kReadAheadBytes = 65536;

// The container file read front to back, with its size known, so that no read is trusted to
// deliver what it asks for and no count is trusted beyond the bytes that are left.
//
// The operations take the name of what they read as a function that builds it
// (a "describe" callable returning a Reason), called only when the read fails: a file table
// has thousands of records, and the texts are needed for none of them in a sound kit.
class ContainerStream {
 public:
  ContainerStream(FileHandle handle, uint64_t size)
      : handle_(handle), size_(size), ahead_(kReadAheadBytes), data_(ahead_.data()) {}
  // The first length bytes of a container, held in memory, read as if it had size bytes;
  // reading past them raises PrefixEnd.
  ContainerStream(const unsigned char* bytes, std::size_t length, uint64_t size)
      : handle_(kNoFileHandle), size_(size), data_(bytes), filled_(length) {}

  uint64_t Size() const { return size_; }
  // Bytes taken so far: the logical position in the container.
  uint64_t Position() const { return position_; }
  uint64_t Remaining() const { return size_ - position_; }

  // Takes exactly length bytes; a failed read raises its code, an early end 13.
  template <typename Describe>
  void Read(void* buffer, uint32_t length, const Describe& what) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
      if (next_ == filled_) Refill(what);
      const std::size_t available = filled_ - next_;
      const std::size_t take = length < available ? length : available;
      std::memcpy(out, data_ + next_, take);
      next_ += take;
      out += take;
      length -= static_cast<uint32_t>(take);
      position_ += take;
    }
  }

  template <typename Describe>
  uint32_t ReadUint32(const Describe& what) {
    unsigned char bytes[kFieldBytes];
    Read(bytes, kFieldBytes, what);
    return LoadLittleEndian32(bytes);
  }

  // The next length bytes, which must lie inside the container before any memory is taken.
  template <typename Describe>
  std::vector<unsigned char> ReadBytes(uint64_t length, const Describe& what) {
    if (length > Remaining()) {
      Fail(kErrorInvalidData, Reason() << what().Text() << " (" << length
                                       << " bytes) runs past the end of the container ("
                                       << Remaining() << " bytes left)");
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    if (length > 0) Read(bytes.data(), static_cast<uint32_t>(length), what);
    return bytes;
  }

  // A counted string read straight from the container (layout A).
  WideString ReadCountedString(const char* what) {
    const uint32_t count = ReadUint32([&] { return Reason() << "the count of " << what; });
    const std::vector<unsigned char> bytes = ReadBytes(
        static_cast<uint64_t>(count) * kUnitBytes, [&] { return Reason() << what; });
    return UnitsFromLittleEndian(bytes.data(), count);
  }

  // A record count whose records, each at least min_record_bytes long, must fit in what is
  // left.
  uint32_t ReadRecordCount(uint32_t min_record_bytes, const char* records) {
    const uint32_t count =
        ReadUint32([&] { return Reason() << "the " << records << " count"; });
    const uint64_t needed = static_cast<uint64_t>(count) * min_record_bytes;
    if (needed > Remaining()) {
      Fail(kErrorInvalidData, Reason() << "the " << records << " count " << count
                                       << " promises more records than the container holds ("
                                       << Remaining() << " bytes left, each record needs at least "
                                       << min_record_bytes << ")");
    }
    return count;
  }

  // The body of a record (what follows its length field), after checking that the length
  // covers the record's fixed fields and stays inside the container.
  template <typename Describe>
  std::vector<unsigned char> ReadRecordBody(uint32_t min_length, const Describe& record) {
    const uint32_t length =
        ReadUint32([&] { return Reason() << "the length of " << record().Text(); });
    if (length < min_length) {
      Fail(kErrorInvalidData, Reason()
                                  << record().Text() << ": record length " << length
                                  << " is below the " << min_length << " bytes of its own fields");
    }
    return ReadBytes(length - kFieldBytes, [&] {
      return Reason() << record().Text() << " (record length " << length << ")";
    });
  }

 private:
  // Reads the next piece of the container into the read-ahead buffer.
  template <typename Describe>
  void Refill(const Describe& what) {
    if (handle_ == kNoFileHandle) throw PrefixEnd{};
    uint32_t count = 0;
    const ErrorCode code = FileRead(handle_, ahead_.data(), kReadAheadBytes, &count, nullptr);
    if (code != kSuccess) Fail(code, Reason() << "reading " << what().Text() << " failed");
    if (count == 0) {
      Fail(kErrorInvalidData, Reason() << "the container ends inside " << what().Text());
    }
    next_ = 0;
    filled_ = count;
  }

  FileHandle handle_;
  uint64_t size_;
  uint64_t position_ = 0;
  std::vector<unsigned char> ahead_;
  const unsigned char* data_;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
};

static NarrowString QuotedName(const WideString& name) {
  NarrowString quoted("\"");
  quoted.Append(ToLocaleBytes(name));
  quoted.Append("\"");
  return quoted;
}

static void ReadSingleDescription(ContainerStream* stream, std::vector<KitInfo>* descriptions) {
  KitInfo info;
  info.language = WideString(kDefaultLanguage);
  info.product = stream->ReadCountedString("the product name");
  info.vendor = stream->ReadCountedString("the vendor name");
  info.description = stream->ReadCountedString("the description document");
  descriptions->push_back(info);
}

static void ReadDescriptionRecords(ContainerStream* stream, std::vector<KitInfo>* descriptions) {
  const uint32_t count = stream->ReadRecordCount(kDescriptionRecordFixedBytes, "description");
  for (uint32_t i = 0; i < count; ++i) {
    const auto record = [i] { return Reason() << "description record " << uint64_t{i}; };
    const std::vector<unsigned char> body =
        stream->ReadRecordBody(kDescriptionRecordFixedBytes, record);
    KitInfo info;
    const char* field = "";
    if (!ParseDescriptionBody(body.data(), body.size(), &info, &field)) {
      Fail(kErrorInvalidData, Reason() << record().Text() << ": the " << field
                                       << " runs past the end of its record (record length "
                                       << static_cast<uint64_t>(body.size() + kFieldBytes) << ")");
    }
    descriptions->push_back(info);
  }
}

static void ReadEntryRecords(ContainerStream* stream, std::vector<KitEntry>* entries) {
  const uint32_t count = stream->ReadRecordCount(kEntryRecordFixedBytes, "entry");
  entries->reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const auto record = [i] { return Reason() << "entry record " << uint64_t{i}; };
    const std::vector<unsigned char> body = stream->ReadRecordBody(kEntryRecordFixedBytes, record);
    KitEntry entry;
    const char* field = "";
    if (!ParseEntryBody(body.data(), body.size(), &entry, &field)) {
      Fail(kErrorInvalidData, Reason() << record().Text() << ": the " << field
                                       << " runs past the end of its record (record length "
                                       << static_cast<uint64_t>(body.size() + kFieldBytes) << ")");
    }
    if (const char* unsafe = EntryPath::FromName(entry.name, &entry.path)) {
      Fail(kErrorInvalidData,
           Reason() << record().Text() << ": the name " << QuotedName(entry.name) << " " << unsafe);
    }
    entries->push_back(entry);
  }
}

// Turns the stored offsets into container positions, and checks that each entry's data lies
// inside the container.
static void PlaceEntries(uint64_t data_start, uint64_t container_size,
                         std::vector<KitEntry>* entries) {
  for (std::size_t i = 0; i < entries->size(); ++i) {
    KitEntry& entry = (*entries)[i];
    const uint64_t end = data_start + entry.offset + entry.size;
    if (end > container_size) {
      Fail(kErrorInvalidData,
           Reason() << "entry record " << static_cast<uint64_t>(i) << " (" << QuotedName(entry.name)
                    << "): its data (offset " << entry.offset << ", size " << entry.size
                    << ") runs past the end of the container (data area at " << data_start
                    << ", container " << container_size << " bytes)");
    }
    entry.offset = static_cast<uint32_t>(data_start + entry.offset);
  }
}

static int64_t Seek(FileHandle handle, int64_t offset, uint32_t origin, const char* what) {
  const int64_t position = FileSeek(handle, offset, origin);
  if (position < 0) Fail(LastErrorCode(), Reason() << "seeking " << what << " failed");
  return position;
}

// The layout flag, the description block, the entry count and the entry records.
static void ReadRecords(ContainerStream* stream, std::vector<KitInfo>* descriptions,
                        std::vector<KitEntry>* entries) {
  const uint32_t layout = stream->ReadUint32([] { return Reason() << "the layout flag"; });
  if (layout == kLayoutSingleDescription) {
    ReadSingleDescription(stream, descriptions);
  } else {
    ReadDescriptionRecords(stream, descriptions);
  }
  ReadEntryRecords(stream, entries);
}

static void CheckContainerSize(uint64_t size) {
  if (size > kMaxContainerBytes) {
    Fail(kErrorInvalidData,
         Reason() << "the container has " << size << " bytes; its positions are 32-bit");
  }
}

static void ReadAll(FileHandle handle, std::vector<KitInfo>* descriptions,
                    std::vector<KitEntry>* entries) {
  const uint64_t size =
      static_cast<uint64_t>(Seek(handle, 0, kFileSeekEnd, "the end of the container"));
  Seek(handle, 0, kFileSeekBegin, "the start of the container");
  CheckContainerSize(size);
  ContainerStream stream(handle, size);
  ReadRecords(&stream, descriptions, entries);
  // The container was read ahead; the data area starts where the records taken end.
  PlaceEntries(stream.Position(), stream.Size(), entries);
}

// The code and reason of what the reading raised, or of the memory it could not get.
template <typename Step>
static ErrorCode Guarded(const Step& step, NarrowString* reason) {
  try {
    step();
    return kSuccess;
  } catch (const ContainerFault& fault) {
    *reason = fault.reason;
    return fault.code;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  *reason = "not enough memory to hold the container's records";
  return kErrorInvalidParameter;
}

ErrorCode ReadContainer(FileHandle handle, std::vector<KitInfo>* descriptions,
                        std::vector<KitEntry>* entries, NarrowString* failure) {
  entries->clear();
  NarrowString reason;
  const ErrorCode code = Guarded([&] { ReadAll(handle, descriptions, entries); }, &reason);
  if (code == kSuccess) return kSuccess;
  entries->clear();
  if (failure != nullptr) *failure = reason;
  return code;
}

ContainerPrefix ReadContainerPrefix(const unsigned char* bytes, std::size_t length,
                                    uint64_t max_bytes, std::vector<KitInfo>* descriptions,
                                    std::vector<KitEntry>* entries, uint64_t* data_start) {
  descriptions->clear();
  entries->clear();
  ContainerPrefix result = ContainerPrefix::kRejected;
  try {
    NarrowString reason;
    // Every count and length is held against max_bytes: records that could not fit in it
    // are rejected here before any memory is taken for them.
    ContainerStream stream(bytes, length, max_bytes);
    if (Guarded([&] { ReadRecords(&stream, descriptions, entries); }, &reason) == kSuccess) {
      *data_start = stream.Position();
      return ContainerPrefix::kComplete;
    }
  } catch (const PrefixEnd&) {
    if (length < max_bytes) result = ContainerPrefix::kIncomplete;
  }
  descriptions->clear();
  entries->clear();
  return result;
}

ErrorCode PlaceContainerEntries(uint64_t data_start, uint64_t container_size,
                                std::vector<KitEntry>* entries, NarrowString* failure) {
  NarrowString reason;
  const ErrorCode code = Guarded(
      [&] {
        CheckContainerSize(container_size);
        PlaceEntries(data_start, container_size, entries);
      },
      &reason);
  if (code == kSuccess) return kSuccess;
  entries->clear();
  if (failure != nullptr) *failure = reason;
  return code;
}
