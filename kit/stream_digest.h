// StreamDigest: the SHA-256 of bytes handed over piece by piece, as a kit's compressed
// stream is written or read. Nettle's, which uses the processor's SHA instructions where it
// has them: hashing every byte of a kit must not cost more than inflating it.

#ifndef KIT_STREAM_DIGEST_H_
#define KIT_STREAM_DIGEST_H_

#include <nettle/sha2.h>

#include <cstddef>

#include "kit/kit_trailer.h"

class StreamDigest {
 public:
  StreamDigest() { sha256_init(&state_); }

  void Add(const unsigned char* bytes, std::size_t length) {
    if (length > 0) sha256_update(&state_, length, bytes);
  }

  // The digest of everything added; the object is then spent.
  void Finish(unsigned char digest[kDigestBytes]) { sha256_digest(&state_, kDigestBytes, digest); }

 private:
  sha256_ctx state_;
};

#endif  // KIT_STREAM_DIGEST_H_
