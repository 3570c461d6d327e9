#include "kit/record_cursor.h"

#include "kit/container_format.h"
#include "kit/little_endian.h"

bool RecordCursor::ReadUint32(uint32_t* value) {
  if (Remaining() < kFieldBytes) return false;
  *value = LoadLittleEndian32(data_ + position_);
  position_ += kFieldBytes;
  return true;
}

bool RecordCursor::ReadUnits(uint32_t count, WideString* text) {
  // 64-bit arithmetic: 2 * count does not fit in a 32-bit size_t for large counts.
  const uint64_t bytes = static_cast<uint64_t>(count) * kUnitBytes;
  if (bytes > Remaining()) return false;
  *text = UnitsFromLittleEndian(data_ + position_, count);
  position_ += static_cast<std::size_t>(bytes);
  return true;
}

bool RecordCursor::ReadCountedString(WideString* text) {
  const std::size_t start = position_;
  uint32_t count = 0;
  if (!ReadUint32(&count)) return false;
  if (!ReadUnits(count, text)) {
    position_ = start;
    return false;
  }
  return true;
}

WideString UnitsFromLittleEndian(const unsigned char* bytes, std::size_t count) {
  WideString text;
  if (count == 0) return text;
  text.Resize(count);
  char16_t* units = text.MutableData();
  for (std::size_t i = 0; i < count; ++i) {
    units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return text;
}
