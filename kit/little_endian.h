// Unsigned 32-bit little-endian integers as the container stores them, independent of the
// host's byte order and alignment.

#ifndef KIT_LITTLE_ENDIAN_H_
#define KIT_LITTLE_ENDIAN_H_

#include <cstdint>

inline uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreLittleEndian32(uint32_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

#endif  // KIT_LITTLE_ENDIAN_H_
