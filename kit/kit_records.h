// The two kinds of record a kit holds in memory once it is open: the description of the
// product in one language, and one entry of the file table.

#ifndef KIT_KIT_RECORDS_H_
#define KIT_KIT_RECORDS_H_

#include <cstdint>

#include "fs/file_time.h"
#include "kit/entry_path.h"
#include "text/wide_string.h"

// One description record: the four strings, taken as stored (no check of their content).
struct KitInfo {
  WideString language;  // a code the string table knows, such as "en" or "ru"
  WideString product;
  WideString vendor;
  WideString description;  // document path relative to the template directory; "\" or "/"
};

// One file of the kit.
struct KitEntry {
  WideString name;  // as stored, components split by "\"; what is shown of the kit
  FileTime time;    // modification time, 100-ns intervals since 1601-01-01 UTC
  uint32_t offset;  // in the container: relative to the data area as stored, absolute
                    // after DistributionKit::Open
  uint32_t size;    // bytes
  // The name as the path it names below the template directory; made by the container
  // reader, empty in a record that was not read from a container (a record written out
  // names its fields up to size only, so the path has its own initialiser).
  EntryPath path = EntryPath();
};

#endif  // KIT_KIT_RECORDS_H_
