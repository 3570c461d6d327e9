// RecordCursor: reads the fields of one container record out of the buffer that holds it,
// front to back, and never past the buffer's end. A field that does not fit leaves the
// cursor where it was and reports false, so the caller can name the field in its failure.

#ifndef KIT_RECORD_CURSOR_H_
#define KIT_RECORD_CURSOR_H_

#include <cstddef>
#include <cstdint>

#include "text/wide_string.h"

class RecordCursor {
 public:
  RecordCursor(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  // One unsigned 32-bit little-endian value.
  bool ReadUint32(uint32_t* value);
  // count UTF-16LE units, taken as they are.
  bool ReadUnits(uint32_t count, WideString* text);
  // A 32-bit unit count followed by that many units. On false nothing is consumed.
  bool ReadCountedString(WideString* text);

  std::size_t Position() const { return position_; }
  std::size_t Remaining() const { return size_ - position_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Makes a WideString of count units from their UTF-16LE bytes (2 * count bytes).
WideString UnitsFromLittleEndian(const unsigned char* bytes, std::size_t count);

#endif  // KIT_RECORD_CURSOR_H_
