#include "kit/raw_deflate_file.h"

#include <fcntl.h>

#include <cerrno>

#include "fs/error_codes.h"
#include "kit/container_format.h"
#include "text/locale_conversions.h"

// Output chunk and the largest input slice handed to zlib at once (its counts are 32-bit).
static constexpr uInt kDeflateChunkBytes = 65536;

RawDeflateFile::~RawDeflateFile() { Abandon(); }

void RawDeflateFile::Abandon() {
  if (stream_started_) {
    deflateEnd(&stream_);
    stream_started_ = false;
  }
  if (file_ != kNoFileHandle) {
    FileClose(file_);
    file_ = kNoFileHandle;
  }
}

ErrorCode RawDeflateFile::Create(const WideString& path, int level) {
  Abandon();
  // Opened here rather than through the file layer, whose files are the installer's own:
  // a kit is for whoever may run the installer, so it gets what the umask allows.
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return kErrorInvalidParameter;
  const int descriptor = open64(bytes.CStr(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
  file_ = descriptor;
  digest_ = StreamDigest();
  stream_ = z_stream{};
  if (deflateInit2(&stream_, level, Z_DEFLATED, kRawDeflateWindowBits, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    Abandon();
    return kErrorInvalidParameter;
  }
  stream_started_ = true;
  output_.resize(kDeflateChunkBytes);
  return kSuccess;
}

ErrorCode RawDeflateFile::Deflate(int flush) {
  int status = Z_OK;
  do {
    stream_.next_out = output_.data();
    stream_.avail_out = kDeflateChunkBytes;
    status = deflate(&stream_, flush);
    if (status == Z_STREAM_ERROR) return kErrorInvalidParameter;
    const uint32_t produced = kDeflateChunkBytes - stream_.avail_out;
    if (produced > 0) {
      digest_.Add(output_.data(), produced);
      uint32_t written = 0;
      const ErrorCode code = FileWrite(file_, output_.data(), produced, &written, nullptr);
      if (code != kSuccess) return code;
    }
  } while (stream_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  return kSuccess;
}

ErrorCode RawDeflateFile::Write(const unsigned char* data, std::size_t length) {
  if (!stream_started_) return kErrorInvalidParameter;
  while (length > 0) {
    const uInt slice = length < kDeflateChunkBytes ? static_cast<uInt>(length) : kDeflateChunkBytes;
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = slice;
    const ErrorCode code = Deflate(Z_NO_FLUSH);
    if (code != kSuccess) return code;
    data += slice;
    length -= slice;
  }
  return kSuccess;
}

ErrorCode RawDeflateFile::EndStream(unsigned char digest[kDigestBytes]) {
  if (!stream_started_) return kErrorInvalidParameter;
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  const ErrorCode code = Deflate(Z_FINISH);
  deflateEnd(&stream_);
  stream_started_ = false;
  digest_.Finish(digest);
  return code;
}

ErrorCode RawDeflateFile::AppendAfterStream(const unsigned char* data, std::size_t length) {
  if (file_ == kNoFileHandle || stream_started_ || !FitsUint32(length)) {
    return kErrorInvalidParameter;
  }
  uint32_t written = 0;
  return FileWrite(file_, data, static_cast<uint32_t>(length), &written, nullptr);
}

ErrorCode RawDeflateFile::Close() {
  if (file_ == kNoFileHandle) return kErrorInvalidParameter;
  const ErrorCode code = FileTruncateHere(file_);
  const ErrorCode close_code = FileClose(file_);
  file_ = kNoFileHandle;
  return code != kSuccess ? code : close_code;
}

ErrorCode RawDeflateFile::Finish() {
  unsigned char digest[kDigestBytes];
  const ErrorCode code = EndStream(digest);
  if (code != kSuccess) {
    Abandon();
    return code;
  }
  return Close();
}

ErrorCode WriteRawDeflateFile(const WideString& path, const unsigned char* data,
                              std::size_t length) {
  RawDeflateFile file;
  ErrorCode code = file.Create(path);
  if (code == kSuccess) code = file.Write(data, length);
  if (code == kSuccess) code = file.Finish();
  return code;
}
