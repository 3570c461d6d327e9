// Kits and containers for tests: raw DEFLATE both ways, content with a pattern, file times,
// the worked example and other small containers, and kits written from files in memory.

#ifndef TESTING_KIT_BUILDERS_H_
#define TESTING_KIT_BUILDERS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/file_time.h"
#include "kit/distribution_kit.h"
#include "kit/kit_writer.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "text/wide_string.h"

// Raw DEFLATE of bytes (what a kit file holds) at a zlib level, and its inverse (stops at
// the stream's end).
Bytes RawDeflate(const Bytes& bytes, int level = -1);
Bytes RawInflate(const Bytes& kit);
// Raw DEFLATE of bytes without a final block: the stream ends on a byte boundary and goes on
// with whatever is appended.
Bytes RawDeflateUnfinished(const Bytes& bytes);

// Bytes of the given length with a repeating but not trivial pattern.
Bytes PatternBytes(std::size_t length, unsigned seed);

// The file time of whole system seconds, plus nanoseconds (kept to 100 ns).
FileTime TimeOf(int64_t seconds, long nanoseconds = 0);

// The container of the worked example: layout B, one description ("en", "P", "V", "d.htm"),
// one entry "a\b.txt" of the bytes "abc", time 2020-01-01 00:00:00 UTC.
KitWriter WorkedExampleWriter();
// Its 91 bytes as the format defines them.
Bytes WorkedExampleContainer();

// Collects what a writer sends.
class MemorySink : public ByteSink {
 public:
  ErrorCode Write(const unsigned char* data, std::size_t length) override;
  Bytes bytes;
};

// The plain container a writer makes.
Bytes ContainerBytesOf(const KitWriter& writer);

// A layout B container with two descriptions and two entries, for damage tests.
Bytes SmallContainer();

// Writes the container bytes to a file in scratch and runs ReadContainer on them.
ErrorCode ReadContainerBytes(const ScratchDirectory& scratch, const Bytes& container,
                             std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                             NarrowString* failure = nullptr);

// One kit entry.
struct KitFile {
  std::string name;  // as stored (may use "\")
  FileTime time;
  std::string bytes;
};

// Writes a kit of the files, with an English description of "Product" by "Vendor", to
// kit_path and opens it into kit. 0 or the failing code.
ErrorCode MakeKit(const std::string& kit_path, const std::vector<KitFile>& files,
                  DistributionKit* kit);

// A kit of three template files (two in a sub-directory) and the description document
// "description.htm", with an English description of product and vendor. Returns its
// writer so tests can add to it.
KitWriter DemoKitWriter(const std::string& product = "Demo", const std::string& vendor = "Vendor");
// The relative names of the files the demo kit installs.
std::vector<std::string> DemoKitFiles();
// Writes the writer's kit to path; fails the calling test on error.
void WriteKitFile(const KitWriter& writer, const std::string& path);

#endif  // TESTING_KIT_BUILDERS_H_
