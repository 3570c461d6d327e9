#include "kit/raw_deflate_file.h"

#include "kit/container_format.h"

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
  ErrorCode code =
      FileOpen(path, kFileAccessWrite, 0, kFileCreateAlways, &file_, kNormalFileAttributes);
  if (code != kSuccess) return code;
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

ErrorCode RawDeflateFile::Finish() {
  if (!stream_started_) return kErrorInvalidParameter;
  stream_.next_in = nullptr;
  stream_.avail_in = 0;
  ErrorCode code = Deflate(Z_FINISH);
  if (code == kSuccess) code = FileTruncateHere(file_);
  deflateEnd(&stream_);
  stream_started_ = false;
  const ErrorCode close_code = FileClose(file_);
  file_ = kNoFileHandle;
  return code != kSuccess ? code : close_code;
}

ErrorCode WriteRawDeflateFile(const WideString& path, const unsigned char* data,
                              std::size_t length) {
  RawDeflateFile file;
  ErrorCode code = file.Create(path);
  if (code == kSuccess) code = file.Write(data, length);
  if (code == kSuccess) code = file.Finish();
  return code;
}
