// RawDeflateFile: writes one raw DEFLATE stream (no zlib header or trailer, as a kit file
// is made) into a file through the file layer, compressing as the bytes arrive, so memory
// use does not depend on how much is written.
//
// Use: Create, any number of Write calls, Finish; or, for bytes after the stream (the
// integrity trailer), EndStream, AppendAfterStream and Close. A file that is not finished (a
// failure, or destruction before Finish) is closed and holds an incomplete stream; removing
// it is the caller's business. A file that Create makes gets the mode 0666 less the umask,
// as any file-writing tool gives.

#ifndef KIT_RAW_DEFLATE_FILE_H_
#define KIT_RAW_DEFLATE_FILE_H_

#include <zlib.h>

#include <vector>

#include "fs/file_handle.h"
#include "kit/byte_sink.h"
#include "kit/kit_trailer.h"
#include "kit/stream_digest.h"
#include "text/wide_string.h"

class RawDeflateFile : public ByteSink {
 public:
  RawDeflateFile() = default;
  ~RawDeflateFile() override;
  RawDeflateFile(const RawDeflateFile&) = delete;
  RawDeflateFile& operator=(const RawDeflateFile&) = delete;

  // Creates or opens path for writing and starts a stream at the zlib level (0-9, or
  // Z_DEFAULT_COMPRESSION). Returns 0, the open's code, or 87 when zlib cannot start.
  ErrorCode Create(const WideString& path, int level = Z_DEFAULT_COMPRESSION);
  // Compresses length more bytes; 0 or the code of a failed write (87 when not created).
  ErrorCode Write(const unsigned char* data, std::size_t length) override;
  // Ends the stream, writes what is left, cuts the file at its end and closes it.
  ErrorCode Finish();
  // Ends the stream and writes what is left; *digest receives the SHA-256 of every byte of
  // the stream as written.
  ErrorCode EndStream(unsigned char digest[kDigestBytes]);
  // Writes bytes after the ended stream.
  ErrorCode AppendAfterStream(const unsigned char* data, std::size_t length);
  // Cuts the file at its end and closes it.
  ErrorCode Close();
  // Stops without finishing: ends the stream and closes the file, which then holds an
  // incomplete stream.
  void Abandon();

 private:
  // Runs deflate over the pending input with the given flush mode and writes its output.
  ErrorCode Deflate(int flush);

  z_stream stream_ = {};
  bool stream_started_ = false;
  FileHandle file_ = kNoFileHandle;
  std::vector<unsigned char> output_;
  StreamDigest digest_;
};

// Raw-deflates length bytes into the file at path in one go (test kits and fuzz seeds).
ErrorCode WriteRawDeflateFile(const WideString& path, const unsigned char* data,
                              std::size_t length);

#endif  // KIT_RAW_DEFLATE_FILE_H_
