#include "testing/kit_builders.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "kit/container_format.h"
#include "kit/container_reader.h"
#include "testing/text_helpers.h"

static void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

static Bytes RawDeflateFlushed(const Bytes& bytes, int level, int flush) {
  z_stream stream = {};
  Check(deflateInit2(&stream, level, Z_DEFLATED, kRawDeflateWindowBits, 8,
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

Bytes RawDeflate(const Bytes& bytes, int level) {
  return RawDeflateFlushed(bytes, level, Z_FINISH);
}

Bytes RawDeflateUnfinished(const Bytes& bytes) {
  return RawDeflateFlushed(bytes, Z_DEFAULT_COMPRESSION, Z_SYNC_FLUSH);
}

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

FileTime TimeOf(int64_t seconds, long nanoseconds) {
  return FileTimeFromValue(FileTimeValue(FileTimeFromSystemSeconds(seconds)) +
                           static_cast<uint64_t>(nanoseconds / 100));
}

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
  writer.AddEntry(WideString(u"x\\one.txt"), TimeOf(1000000000), Bytes{'1', '2', '3', '4'});
  writer.AddEntry(WideString(u"two"), TimeOf(0), Bytes{'5', '6'});
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

ErrorCode ReadContainerBytes(const ScratchDirectory& scratch, const Bytes& container,
                             std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                             NarrowString* failure) {
  Check(WriteWholeFile(scratch.Child("container.bin"), container), "write container.bin");
  FileHandle handle = kNoFileHandle;
  Check(FileOpen(scratch.Wide("container.bin"), kFileAccessRead, 0, kFileOpenExisting, &handle,
                 kNormalFileAttributes) == kSuccess,
        "FileOpen");
  const ErrorCode code = ReadContainer(handle, descriptions, entries, failure);
  FileClose(handle);
  return code;
}

ErrorCode MakeKit(const std::string& kit_path, const std::vector<KitFile>& files,
                  DistributionKit* kit) {
  KitWriter writer;
  writer.AddDescription(KitInfo{WideString(u"en"), WideString(u"Product"),
                                WideString(u"Vendor"), WideString(u"readme.htm")});
  for (const KitFile& file : files) {
    const ErrorCode code = writer.AddEntry(WideFromUtf8(file.name), file.time,
                                           Bytes(file.bytes.begin(), file.bytes.end()));
    if (code != kSuccess) return code;
  }
  writer.SetCompressionLevel(1);
  const ErrorCode code = writer.WriteKit(WideFromUtf8(kit_path));
  if (code != kSuccess) return code;
  return kit->Open(WideFromUtf8(kit_path));
}

KitWriter DemoKitWriter(const std::string& product, const std::string& vendor) {
  KitWriter writer;
  writer.AddDescription(KitInfo{WideFromUtf8("en"), WideFromUtf8(product), WideFromUtf8(vendor),
                                WideFromUtf8("description.htm")});
  const FileTime time = TimeOf(1577836800);  // 2020-01-01
  auto bytes = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
  writer.AddEntry(WideFromUtf8("description.htm"), time, bytes("<html>demo</html>"));
  writer.AddEntry(WideFromUtf8("Accounting\\template.cfg"), time, bytes("accounting"));
  writer.AddEntry(WideFromUtf8("Trade\\Retail\\template.cfg"), time, bytes("retail"));
  return writer;
}

std::vector<std::string> DemoKitFiles() {
  return {"description.htm", "Accounting/template.cfg", "Trade/Retail/template.cfg"};
}

void WriteKitFile(const KitWriter& writer, const std::string& path) {
  NarrowString failure;
  const ErrorCode code = writer.WriteKit(WideFromUtf8(path), &failure);
  ASSERT_EQ(code, kSuccess) << failure.CStr();
}
