#include "kit/kit_test_support.h"

#include <dirent.h>
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "kit/container_format.h"
#include "kit/container_reader.h"
#include "text/locale_conversions.h"

static void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

static int RemoveNode(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}

KitScratch::KitScratch() {
  const char* tmpdir = getenv("TMPDIR");
  had_tmpdir_ = tmpdir != nullptr;
  if (had_tmpdir_) old_tmpdir_ = tmpdir;
  std::string pattern = (had_tmpdir_ && *tmpdir != '\0' ? old_tmpdir_ : "/tmp") + "/kit_testXXXXXX";
  Check(mkdtemp(&pattern[0]) != nullptr, "mkdtemp");
  root_ = pattern;
  Check(mkdir((root_ + "/tmp").c_str(), 0700) == 0, "mkdir tmp");
  setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
}

KitScratch::~KitScratch() {
  nftw(root_.c_str(), RemoveNode, 16, FTW_DEPTH | FTW_PHYS);
  if (had_tmpdir_) {
    setenv("TMPDIR", old_tmpdir_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

WideString KitScratch::Wide(const std::string& name) const { return WideFromUtf8(Path(name)); }

int KitScratch::TempEntryCount() const {
  DIR* dir = opendir(TempDirectory().c_str());
  Check(dir != nullptr, "opendir");
  int count = 0;
  while (dirent64* entry = readdir64(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") ++count;
  }
  closedir(dir);
  return count;
}

WideString WideFromUtf8(const std::string& text) {
  // Decodes UTF-8 by hand, so the tests do not depend on the process locale.
  WideString result;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    uint32_t point = lead;
    std::size_t extra = 0;
    if (lead >= 0xF0) {
      point = lead & 0x07;
      extra = 3;
    } else if (lead >= 0xE0) {
      point = lead & 0x0F;
      extra = 2;
    } else if (lead >= 0xC0) {
      point = lead & 0x1F;
      extra = 1;
    }
    for (std::size_t k = 1; k <= extra && i + k < text.size(); ++k) {
      point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    result.Append(static_cast<char16_t>(point));
    i += extra + 1;
  }
  return result;
}

std::string ToAscii(const WideString& text) {
  std::string ascii;
  for (char16_t unit : text) ascii.push_back(static_cast<char>(unit));
  return ascii;
}

Bytes ReadFileBytes(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  Check(file != nullptr, "fopen for reading");
  Bytes bytes;
  unsigned char piece[65536];
  std::size_t count;
  while ((count = std::fread(piece, 1, sizeof piece, file)) > 0) {
    bytes.insert(bytes.end(), piece, piece + count);
  }
  std::fclose(file);
  return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "fopen for writing");
  Check(bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, file) == 1, "fwrite");
  Check(std::fclose(file) == 0, "fclose");
}

static Bytes RawDeflateFlushed(const Bytes& bytes, int flush) {
  z_stream stream = {};
  Check(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflateWindowBits, 8,
                     Z_DEFAULT_STRATEGY) == Z_OK,
        "deflateInit2");
  Bytes out(deflateBound(&stream, bytes.size()) + 16);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, flush);
  Check(flush == Z_FINISH ? status == Z_STREAM_END : status == Z_OK, "deflate");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

Bytes RawDeflate(const Bytes& bytes) { return RawDeflateFlushed(bytes, Z_FINISH); }

Bytes RawDeflateUnfinished(const Bytes& bytes) { return RawDeflateFlushed(bytes, Z_SYNC_FLUSH); }

Bytes RawInflate(const Bytes& kit) {
  z_stream stream = {};
  Check(inflateInit2(&stream, kRawDeflateWindowBits) == Z_OK, "inflateInit2");
  Bytes out;
  unsigned char piece[65536];
  stream.next_in = const_cast<Bytef*>(kit.data());
  stream.avail_in = static_cast<uInt>(kit.size());
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = piece;
    stream.avail_out = sizeof piece;
    status = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), piece, piece + (sizeof piece - stream.avail_out));
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  Check(status == Z_STREAM_END || status == Z_BUF_ERROR, "inflate");
  return out;
}

Bytes PatternBytes(std::size_t length, unsigned seed) {
  Bytes bytes(length);
  uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < length; ++i) {
    state = state * 1103515245u + 12345u;
    // Runs of repeated text mixed with noise: compressible, but not trivially.
    bytes[i] = (i / 64) % 3 == 0 ? static_cast<unsigned char>(state >> 24)
                                 : static_cast<unsigned char>("template data "[i % 14]);
  }
  return bytes;
}

FileTime TimeOfSeconds(int64_t seconds) { return FileTimeFromSystemSeconds(seconds); }

KitWriter WorkedExampleWriter() {
  KitWriter writer(kLayoutPerLanguage);
  writer.AddDescription(
      KitInfo{WideString(u"en"), WideString(u"P"), WideString(u"V"), WideString(u"d.htm")});
  writer.AddEntry(WideString(u"a\\b.txt"), FileTimeFromValue(132223104000000000ull),
                  Bytes{'a', 'b', 'c'});
  return writer;
}

Bytes WorkedExampleContainer() {
  return Bytes{
      0x01, 0x00, 0x00, 0x00,                                      // layout B
      0x01, 0x00, 0x00, 0x00,                                      // one description
      0x26, 0x00, 0x00, 0x00,                                      // record length 38
      0x02, 0x00, 0x00, 0x00, 0x65, 0x00, 0x6E, 0x00,              // "en"
      0x01, 0x00, 0x00, 0x00, 0x50, 0x00,                          // "P"
      0x01, 0x00, 0x00, 0x00, 0x56, 0x00,                          // "V"
      0x05, 0x00, 0x00, 0x00, 0x64, 0x00, 0x2E, 0x00, 0x68, 0x00,  // "d.htm"
      0x74, 0x00, 0x6D, 0x00,                                      //
      0x01, 0x00, 0x00, 0x00,                                      // one entry
      0x26, 0x00, 0x00, 0x00,                                      // record length 38
      0x07, 0x00, 0x00, 0x00, 0x61, 0x00, 0x5C, 0x00, 0x62, 0x00,  // "a\b.txt"
      0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00,              //
      0x00, 0x00, 0x05, 0x69, 0x36, 0xC0, 0xD5, 0x01,              // time
      0x00, 0x00, 0x00, 0x00,                                      // data offset 0
      0x03, 0x00, 0x00, 0x00,                                      // data size 3
      0x61, 0x62, 0x63,                                            // data area
  };
}

Bytes SmallContainer() {
  KitWriter writer(kLayoutPerLanguage);
  writer.AddDescription(
      KitInfo{WideString(u"ru"), WideString(u"Pr"), WideString(u"Ve"), WideString(u"r.htm")});
  writer.AddDescription(
      KitInfo{WideString(u"en"), WideString(u"Prod"), WideString(u"Vend"), WideString(u"e.htm")});
  writer.AddEntry(WideString(u"x\\one.txt"), TimeOfSeconds(1000000000), Bytes{'1', '2', '3', '4'});
  writer.AddEntry(WideString(u"two"), TimeOfSeconds(0), Bytes{'5', '6'});
  return ContainerBytesOf(writer);
}

ErrorCode MemorySink::Write(const unsigned char* data, std::size_t length) {
  bytes.insert(bytes.end(), data, data + length);
  return kSuccess;
}

Bytes ContainerBytesOf(const KitWriter& writer) {
  MemorySink sink;
  Check(writer.WriteTo(&sink) == kSuccess, "WriteTo");
  return sink.bytes;
}

ErrorCode ReadContainerBytes(const KitScratch& scratch, const Bytes& container,
                             std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                             NarrowString* failure) {
  WriteFileBytes(scratch.Path("container.bin"), container);
  FileHandle handle = kNoFileHandle;
  Check(FileOpen(scratch.Wide("container.bin"), kFileAccessRead, 0, kFileOpenExisting, &handle,
                 kNormalFileAttributes) == kSuccess,
        "FileOpen");
  const ErrorCode code = ReadContainer(handle, descriptions, entries, failure);
  FileClose(handle);
  return code;
}

int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  Check(dir != nullptr, "opendir /proc/self/fd");
  int count = 0;
  while (dirent64* entry = readdir64(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}
