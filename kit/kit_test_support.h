// Helpers for the kit's tests: a scratch directory that also serves as the temporary
// directory (so that container files left behind can be counted), file bytes, raw DEFLATE,
// and the small containers the tests share.

#ifndef KIT_KIT_TEST_SUPPORT_H_
#define KIT_KIT_TEST_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/file_layer.h"
#include "kit/kit_writer.h"
#include "text/wide_string.h"

using Bytes = std::vector<unsigned char>;

// A fresh directory under the temporary directory in force when it is made, with a "tmp"
// subdirectory that TMPDIR names while the object lives. Everything is removed, and TMPDIR
// restored, on destruction.
class KitScratch {
 public:
  KitScratch();
  ~KitScratch();
  KitScratch(const KitScratch&) = delete;
  KitScratch& operator=(const KitScratch&) = delete;

  // root/name.
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  WideString Wide(const std::string& name) const;
  // The directory TMPDIR names, with a trailing "/".
  std::string TempDirectory() const { return root_ + "/tmp/"; }
  // Entries in the temporary directory ("." and ".." not counted).
  int TempEntryCount() const;

 private:
  std::string root_;
  bool had_tmpdir_;
  std::string old_tmpdir_;
};

WideString WideFromUtf8(const std::string& text);
// The units of an ASCII text as bytes.
std::string ToAscii(const WideString& text);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
// Raw DEFLATE of bytes (what a kit file holds), and its inverse (stops at the stream's end).
Bytes RawDeflate(const Bytes& bytes);
Bytes RawInflate(const Bytes& kit);
// Raw DEFLATE of bytes without a final block: the stream ends on a byte boundary and goes on
// with whatever is appended.
Bytes RawDeflateUnfinished(const Bytes& bytes);

// Bytes of the given length with a repeating but not trivial pattern.
Bytes PatternBytes(std::size_t length, unsigned seed);

// The file time of whole system seconds.
FileTime TimeOfSeconds(int64_t seconds);

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

// Opens the container bytes as a file in dir and runs ReadContainer on them.
ErrorCode ReadContainerBytes(const KitScratch& scratch, const Bytes& container,
                             std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                             NarrowString* failure = nullptr);

// Number of open file descriptors of this process.
int OpenDescriptorCount();

#endif  // KIT_KIT_TEST_SUPPORT_H_
