#include "kit/container_records.h"

#include <cstdint>

#include "kit/container_format.h"
#include "kit/little_endian.h"
#include "kit/record_cursor.h"

static bool ReadField(bool ok, const char* field, const char** failed_field) {
  if (!ok && failed_field != nullptr) *failed_field = field;
  return ok;
}

// Bytes a counted string takes: its count field and its units.
static uint64_t CountedStringBytes(const WideString& text) {
  return kFieldBytes + static_cast<uint64_t>(text.Length()) * kUnitBytes;
}

bool ParseDescriptionBody(const unsigned char* body, std::size_t size, KitInfo* info,
                          const char** failed_field) {
  RecordCursor cursor(body, size);
  return ReadField(cursor.ReadCountedString(&info->language), "language code", failed_field) &&
         ReadField(cursor.ReadCountedString(&info->product), "product name", failed_field) &&
         ReadField(cursor.ReadCountedString(&info->vendor), "vendor name", failed_field) &&
         ReadField(cursor.ReadCountedString(&info->description), "description document",
                   failed_field);
}

bool ParseEntryBody(const unsigned char* body, std::size_t size, KitEntry* entry,
                    const char** failed_field) {
  RecordCursor cursor(body, size);
  return ReadField(cursor.ReadCountedString(&entry->name), "name", failed_field) &&
         ReadField(cursor.ReadUint32(&entry->time.low), "modification time (low half)",
                   failed_field) &&
         ReadField(cursor.ReadUint32(&entry->time.high), "modification time (high half)",
                   failed_field) &&
         ReadField(cursor.ReadUint32(&entry->offset), "data offset", failed_field) &&
         ReadField(cursor.ReadUint32(&entry->size), "data size", failed_field);
}

void AppendUint32(uint32_t value, std::vector<unsigned char>* out) {
  unsigned char bytes[kFieldBytes];
  StoreLittleEndian32(value, bytes);
  out->insert(out->end(), bytes, bytes + kFieldBytes);
}

bool AppendCountedString(const WideString& text, std::vector<unsigned char>* out) {
  if (!FitsUint32(text.Length())) return false;
  AppendUint32(static_cast<uint32_t>(text.Length()), out);
  for (char16_t unit : text) {
    out->push_back(static_cast<unsigned char>(unit & 0xFF));
    out->push_back(static_cast<unsigned char>(unit >> 8));
  }
  return true;
}

bool AppendDescriptionRecord(const KitInfo& info, std::vector<unsigned char>* out) {
  const uint64_t length = kFieldBytes + CountedStringBytes(info.language) +
                          CountedStringBytes(info.product) + CountedStringBytes(info.vendor) +
                          CountedStringBytes(info.description);
  if (!FitsUint32(length)) return false;
  AppendUint32(static_cast<uint32_t>(length), out);
  return AppendCountedString(info.language, out) && AppendCountedString(info.product, out) &&
         AppendCountedString(info.vendor, out) && AppendCountedString(info.description, out);
}

bool AppendEntryRecord(const KitEntry& entry, std::vector<unsigned char>* out) {
  const uint64_t length = kEntryRecordFixedBytes - kFieldBytes + CountedStringBytes(entry.name);
  if (!FitsUint32(length)) return false;
  AppendUint32(static_cast<uint32_t>(length), out);
  if (!AppendCountedString(entry.name, out)) return false;
  AppendUint32(entry.time.low, out);
  AppendUint32(entry.time.high, out);
  AppendUint32(entry.offset, out);
  AppendUint32(entry.size, out);
  return true;
}
