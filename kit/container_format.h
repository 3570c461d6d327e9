// The layout of a distribution kit and of the container inside it.
//
// A kit file is one raw DEFLATE stream (no zlib or gzip wrapping), which may be followed by
// an integrity trailer (kit/kit_trailer.h) and by bytes that readers ignore; inflating the
// stream yields the container (docs/kit-format.md). All container integers are unsigned
// 32-bit little-endian; a counted string is a 32-bit unit count n followed by n UTF-16LE code
// units, unterminated and unpadded. The container is, in order:
//
//   layout flag        4       0: layout A (one description), other: layout B
//   description block  varies  A: product, vendor, document as three counted strings,
//                               held as the description of the language "en";
//                               B: a record count M, then M description records
//   entry count N      4
//   entry records      varies  N records
//   data area          rest    the entries' bytes, addressed relative to its start
//
// Description record (layout B), L = its length including the length field itself:
//   0  L   4  a   8  language (2a bytes)   then product, vendor, document as counted strings
//   L >= 20 + 2(a+b+c+d); bytes after the fourth string are skipped.
//
// Entry record:
//   0  L   4  n   8  name (2n bytes)   8+2n time low   12+2n time high
//   16+2n data offset   20+2n data size;   L >= 24 + 2n; surplus bytes are skipped.
//
// Every position in the container is 32-bit, so a container stays below 4 GiB.

#ifndef KIT_CONTAINER_FORMAT_H_
#define KIT_CONTAINER_FORMAT_H_

#include <cstdint>

// Layout flag values. The reader takes every non-zero value as layout B; the writer stores
// exactly these.
constexpr uint32_t kLayoutSingleDescription = 0;  // layout A
constexpr uint32_t kLayoutPerLanguage = 1;        // layout B

// Width of every container integer and of one string unit.
constexpr uint32_t kFieldBytes = 4;
constexpr uint32_t kUnitBytes = 2;

// The language under which a layout A description is known, and the fallback language of
// the description document lookup.
constexpr char16_t kDefaultLanguage[] = u"en";

// Description record: the length field and the four string counts.
constexpr uint32_t kDescriptionRecordFixedBytes = 5 * kFieldBytes;  // 20

// Entry record: length, name count, time low, time high, data offset, data size.
constexpr uint32_t kEntryRecordFixedBytes = 6 * kFieldBytes;  // 24
// Offsets of the fields that follow the name, counted from the end of the name.
constexpr uint32_t kEntryTimeLowAfterName = 0;
constexpr uint32_t kEntryTimeHighAfterName = 4;
constexpr uint32_t kEntryDataOffsetAfterName = 8;
constexpr uint32_t kEntryDataSizeAfterName = 12;
// Offset of the name inside an entry record (after length and count).
constexpr uint32_t kEntryNameOffset = 2 * kFieldBytes;

// Whether a count or size fits a 32-bit container field (a function, so that callers with a
// 32-bit size_t do not compare a value against a bound it can never exceed).
inline bool FitsUint32(uint64_t value) { return value <= 0xFFFFFFFFull; }

// The largest container: every container position must fit in 32 bits.
constexpr uint64_t kMaxContainerBytes = 0xFFFFFFFFull;

// The kit file is read in pieces of this size into one buffer and inflated from there. One
// read per piece costs far less than a mapping per piece, which faults in every page of it
// and unmaps it again; memory use stays the same whatever the kit's size.
constexpr uint32_t kInflateInputBytes = 262144;

// The inflated bytes are written to the container in pieces of up to this size. A kit
// inflates to several times its size, and the file system's cost per write call and per
// page it prepares falls with larger writes; past the processor's second-level cache
// (1 MiB was measured) the buffer is slower again.
constexpr uint32_t kInflateOutputBytes = 262144;

// The copy buffer through which entries are extracted from the container.
constexpr uint32_t kCopyBufferBytes = 1048576;

// Name prefix of the temporary container file.
constexpr char kContainerFilePrefix[] = "edf";

// Attributes handed to FileOpen (the file layer accepts and ignores them): normal, and normal
// with the sequential-access hint for the kit file.
constexpr uint32_t kNormalFileAttributes = 0x80;
constexpr uint32_t kSequentialFileAttributes = 0x08000080;

// raw DEFLATE (no header, no trailer) with the largest window, for inflateInit2/deflateInit2.
constexpr int kRawDeflateWindowBits = -15;

#endif  // KIT_CONTAINER_FORMAT_H_
