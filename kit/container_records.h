// The two record kinds of the container, read from and written to bytes.
//
// A record's body is what follows its 32-bit length field: length - 4 bytes. Parsing takes
// the fields from the body in order and never reads past it; surplus bytes after the last
// field are ignored (a longer record is valid). A field that does not fit is reported by
// name, such as "product name", for the caller's failure description.
//
// Encoding appends a complete record (length field included) with no surplus bytes, or
// fails when its length would not fit in 32 bits.

#ifndef KIT_CONTAINER_RECORDS_H_
#define KIT_CONTAINER_RECORDS_H_

#include <cstddef>
#include <vector>

#include "kit/kit_records.h"

// Description record body: language, product, vendor and description document, each a
// counted string.
bool ParseDescriptionBody(const unsigned char* body, std::size_t size, KitInfo* info,
                          const char** failed_field);
// Entry record body: counted name, time low, time high, data offset, data size. The offset
// is stored as it is (relative to the data area).
bool ParseEntryBody(const unsigned char* body, std::size_t size, KitEntry* entry,
                    const char** failed_field);

bool AppendDescriptionRecord(const KitInfo& info, std::vector<unsigned char>* out);
bool AppendEntryRecord(const KitEntry& entry, std::vector<unsigned char>* out);

// Appends a 32-bit little-endian value; a counted string (count and UTF-16LE units).
void AppendUint32(uint32_t value, std::vector<unsigned char>* out);
bool AppendCountedString(const WideString& text, std::vector<unsigned char>* out);

#endif  // KIT_CONTAINER_RECORDS_H_
