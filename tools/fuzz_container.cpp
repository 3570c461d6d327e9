// libFuzzer target: arbitrary bytes as an inflated container, read as DistributionKit::Open
// reads the container after inflation (ReadContainer on the open container file).
//
// Besides crashes and sanitizer reports it stops on a broken promise of the reader: a
// success whose file table points outside the container or holds an unsafe name, or a
// failure with a code other than invalid data or with a non-empty table.
//
//   ./fuzz_container -max_total_time=30 tools/fuzz_corpus/container

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kit/container_reader.h"
#include "kit/entry_name_check.h"

// One in-memory file for the whole run, rewritten for every input.
static int ContainerFile() {
  static const int descriptor = memfd_create("fuzz_container", MFD_CLOEXEC);
  if (descriptor < 0) std::abort();
  return descriptor;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int file = ContainerFile();
  if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != static_cast<ssize_t>(size) ||
      lseek(file, 0, SEEK_SET) != 0) {
    std::abort();
  }
  std::vector<KitInfo> descriptions;
  std::vector<KitEntry> entries;
  NarrowString failure;
  const ErrorCode code = ReadContainer(file, &descriptions, &entries, &failure);
  if (code == kSuccess) {
    for (const KitEntry& entry : entries) {
      if (static_cast<uint64_t>(entry.offset) + entry.size > size) std::abort();
      if (UnsafeEntryNameReason(entry.name) != nullptr) std::abort();
    }
  } else if (code != kErrorInvalidData || !entries.empty() || failure.Empty()) {
    std::abort();
  }
  return 0;
}
