// Inflating a kit file into its container file.
//
// The kit file is one raw DEFLATE stream; what follows its end is not inflated (it may be an
// integrity trailer, which the caller judges from KitStreamEnd). It
// is read in pieces of kInflateInputBytes into one buffer and inflated into one output
// buffer of kInflateOutputBytes, which is written to the container file whenever it is
// full, so memory use does not grow with the kit.
//
// Once the stream has ended or failed, the rest of the kit is not read: the inflater
// (kit/raw_inflater.h) would only repeat that verdict. A stream cut off inside its data is
// not an error here (the inflater only asks for more input): what is missing shows when the
// container is read.

#ifndef KIT_INFLATE_KIT_H_
#define KIT_INFLATE_KIT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_handle.h"
#include "kit/container_format.h"
#include "kit/kit_trailer.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// Where the stream ended, for the check of the integrity trailer (kit/kit_trailer.h).
struct KitStreamEnd {
  bool ended = false;         // the stream's final block was reached
  uint64_t stream_bytes = 0;  // the bytes of the kit that the stream takes
  // The SHA-256 of those bytes (only meaningful when ended).
  unsigned char digest[kDigestBytes] = {};
  // The bytes after the stream, at most kTrailerBytes of them (empty unless ended).
  std::vector<unsigned char> tail;
  // The container's length: the bytes the stream inflated to, whether stored or not.
  uint64_t container_bytes = 0;
  // Every inflated byte was written to the container (false: an InflateWatch stopped it).
  bool stored = true;
};

// Sees the container's bytes as they are inflated, before they are written, and decides
// whether they are stored. The inflation goes on to the stream's end either way.
class InflateWatch {
 public:
  virtual ~InflateWatch() = default;
  // The inflation starts from the container's first byte; a second call means it starts
  // over (the bytes seen so far come again).
  virtual void Restart() = 0;
  // The next length inflated bytes. Returns whether they, and the bytes that follow, are
  // still to be stored; once it has said no it is not asked again, and what was written
  // before may be cut off.
  virtual bool Take(const unsigned char* bytes, std::size_t length) = 0;
  // The stream has been inflated whole, while the bytes were still stored. Returns whether
  // the container keeps them; false cuts them off.
  virtual bool Finish() = 0;
};

// Inflates the kit at kit_path into the file at container_path (created when missing, and
// cut to the inflated length). The kit is opened first: a kit that cannot be opened leaves
// the container file alone.
//
// Returns 0, or:
//   the file layer's code when the kit or the container cannot be opened, the kit's size
//     cannot be taken, or a read of the kit or a write to the container fails (the
//     inflation stops there; a kit that is a directory cannot be read: 87);
//   kErrorInvalidParameter (87) when the inflate stream cannot be set up;
//   kErrorInvalidData (13) when the kit is not valid DEFLATE data, or when the container
//     would grow beyond max_container_bytes (every container position is 32-bit; the limit
//     also stops a kit that inflates without end from filling the disk).
// failure, when present, receives what went wrong on failure, with the system's reason where
// a system call failed. end, when present, receives where the stream ended and its digest.
ErrorCode InflateKit(const WideString& kit_path, const WideString& container_path,
                     NarrowString* failure = nullptr,
                     uint64_t max_container_bytes = kMaxContainerBytes,
                     KitStreamEnd* end = nullptr);

// The same into the container open (for writing) as container, from its current position;
// the caller keeps and closes the handle. A full disk while writing is kErrorDiskFull.
// watch, when present, sees every inflated byte and may stop the storing: the container
// then ends at the position it started from (end->stored is false).
ErrorCode InflateKitInto(const WideString& kit_path, FileHandle container,
                         NarrowString* failure = nullptr,
                         uint64_t max_container_bytes = kMaxContainerBytes,
                         KitStreamEnd* end = nullptr, InflateWatch* watch = nullptr);

#endif  // KIT_INFLATE_KIT_H_
