// Reading the container: the part of opening a kit that comes after inflation.
//
// ReadContainer reads, from the start of the open container file, the layout flag, the
// description block, the entry count and the entry records, and makes every entry's data
// offset absolute by adding the position where the data area starts.
//
// The container is untrusted input and is read with bounds checks throughout: its size is
// measured first, every read must deliver all the bytes it asks for, a record length must
// cover the record's own fields and stay inside the container, strings must stay inside their
// record, a count must not promise more records than the bytes left could hold (so no
// allocation is larger than what remains of the container), every entry's data must lie
// inside the container, and every entry name must be safe (kit/entry_name_check.h). Any
// breach is kErrorInvalidData (13) with a description naming the record and field. A read or
// seek that the file layer reports as failed gives the file layer's code (2 or 87).

#ifndef KIT_CONTAINER_READER_H_
#define KIT_CONTAINER_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_handle.h"
#include "kit/kit_records.h"
#include "text/narrow_string.h"

// handle: the container, open for reading; it is read from position 0 on.
// descriptions: each description record is appended as soon as it is read, so the records
//   read before a failure stay.
// entries: emptied first; the file table on success, empty on failure.
// failure: when present, receives a description of what is wrong on failure (left alone on
//   success).
// Returns 0, or the code of the first failure.
ErrorCode ReadContainer(FileHandle handle, std::vector<KitInfo>* descriptions,
                        std::vector<KitEntry>* entries, NarrowString* failure);

// What the first bytes of a container, whose end is not known yet, show of its records.
enum class ContainerPrefix {
  kComplete,    // the records end inside the bytes and pass every check made so far
  kIncomplete,  // the bytes end inside the records, and more bytes could complete them
  kRejected,    // the records break a check, or would not fit in max_bytes
};

// Reads the records from the first length bytes of a container, with ReadContainer's checks
// except those that need the container's size: every count and length is held against
// max_bytes instead (length must not exceed it). On kComplete *descriptions and *entries
// hold the records, entry offsets still relative to the data area, which starts at
// *data_start; otherwise both are empty. PlaceContainerEntries completes the checks once
// the size is known.
ContainerPrefix ReadContainerPrefix(const unsigned char* bytes, std::size_t length,
                                    uint64_t max_bytes, std::vector<KitInfo>* descriptions,
                                    std::vector<KitEntry>* entries, uint64_t* data_start);

// The last checks of ReadContainer for a container of container_size bytes whose data area
// starts at data_start: the size fits 32-bit positions, and every entry's data lies inside
// the container; entry offsets are then made absolute. Returns 0, or kErrorInvalidData (13)
// with *failure (when present) saying which entry, and *entries emptied.
ErrorCode PlaceContainerEntries(uint64_t data_start, uint64_t container_size,
                                std::vector<KitEntry>* entries, NarrowString* failure);

#endif  // KIT_CONTAINER_READER_H_
