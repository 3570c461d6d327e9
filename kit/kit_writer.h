// KitWriter: builds a distribution kit, the counterpart of DistributionKit's reader.
//
// The writer collects the layout, the description records and the entries (name, time and
// contents, from memory or from a file) and writes the container as one raw DEFLATE kit file
// ended by an integrity trailer (kit/kit_trailer.h), or as the plain container. File contents
// are streamed at write time in fixed-size pieces, so memory use does not depend on the
// entries' sizes; only the records are held in memory.
//
// Names and strings are stored as given: the writer does not change "/" into "\" and does
// not check names (a kit meant for installation should pass kit/entry_name_check.h; tests
// write damaged kits on purpose). Data offsets are assigned in entry order, each entry's
// bytes right after the previous one's.
//
// Limits of the format that make a write fail with kErrorInvalidParameter (87): a container
// of more than 4 GiB - 1 bytes, a string of more than 2^32 - 1 units, more than one
// description in layout A.

#ifndef KIT_KIT_WRITER_H_
#define KIT_KIT_WRITER_H_

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_time.h"
#include "kit/byte_sink.h"
#include "kit/container_format.h"
#include "kit/kit_records.h"
#include "kit/kit_trailer.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

class RawDeflateFile;

class KitWriter {
 public:
  // layout_flag: kLayoutSingleDescription (A) or kLayoutPerLanguage (B); any other value is
  // stored as it is and read as layout B.
  explicit KitWriter(uint32_t layout_flag = kLayoutPerLanguage) : layout_flag_(layout_flag) {}

  // A description record. Layout A stores product, vendor and description of at most one
  // (the language is not stored; the reader calls it "en"); with none it stores three empty
  // strings.
  void AddDescription(const KitInfo& info);

  // An entry whose contents are given: 0, or 87 for 4 GiB or more.
  ErrorCode AddEntry(const WideString& name, const FileTime& time, std::vector<unsigned char> data);
  // An entry whose contents are the file at source_path, read when the kit is written. Its
  // size is taken now: 0, or the file layer's code when the file cannot be opened or
  // measured, 87 when it holds 4 GiB or more. A file whose size differs at write time fails
  // the write.
  ErrorCode AddFileEntry(const WideString& name, const FileTime& time,
                         const WideString& source_path);

  // zlib level for WriteKit (0-9 or Z_DEFAULT_COMPRESSION, the default).
  void SetCompressionLevel(int level) { compression_level_ = level; }

  // WriteKit ends the kit with an integrity trailer (kit/kit_trailer.h) unless this is set
  // to false: then the kit is the stream alone, as other packers make it.
  void SetTrailer(bool with_trailer) { with_trailer_ = with_trailer; }
  // WriteKit signs the trailer with secret.
  void SetSigningKey(const KitSecretKey& secret) {
    signing_key_ = secret;
    signed_ = true;
  }

  // The container's size in bytes when written (records and data).
  uint64_t ContainerBytes() const;

  // Writes the kit (raw DEFLATE of the container, then the trailer) to kit_path. On failure
  // the partly written file is removed. failure, when present, receives what went wrong.
  ErrorCode WriteKit(const WideString& kit_path, NarrowString* failure = nullptr) const;
  // Writes the plain container (what inflating the kit yields) to path; on failure the
  // partly written file is removed.
  ErrorCode WriteContainer(const WideString& path, NarrowString* failure = nullptr) const;
  // Sends the container to sink.
  ErrorCode WriteTo(ByteSink* sink, NarrowString* failure = nullptr) const;

 private:
  struct PendingEntry {
    WideString name;
    FileTime time;
    uint32_t size;
    std::vector<unsigned char> data;  // the contents, unless they come from source_path
    WideString source_path;           // empty for contents held in data
  };

  // The container up to the data area: layout flag, descriptions, entry count and records.
  ErrorCode EncodeRecords(std::vector<unsigned char>* out, NarrowString* failure) const;
  ErrorCode StreamFile(const PendingEntry& entry, ByteSink* sink, NarrowString* failure) const;
  // Ends the stream, appends the trailer and closes the kit.
  ErrorCode FinishKit(RawDeflateFile* kit, NarrowString* failure) const;

  uint32_t layout_flag_;
  int compression_level_ = Z_DEFAULT_COMPRESSION;
  bool with_trailer_ = true;
  bool signed_ = false;
  KitSecretKey signing_key_ = {};
  std::vector<KitInfo> descriptions_;
  std::vector<PendingEntry> entries_;
};

#endif  // KIT_KIT_WRITER_H_
