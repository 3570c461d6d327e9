// StreamDigest: the SHA-256 of bytes handed over piece by piece (libsodium's), as a kit's
// compressed stream is written or read.

#ifndef KIT_STREAM_DIGEST_H_
#define KIT_STREAM_DIGEST_H_

#include <sodium.h>

#include <cstddef>

#include "kit/kit_trailer.h"

class StreamDigest {
 public:
  StreamDigest() { crypto_hash_sha256_init(&state_); }

  void Add(const unsigned char* bytes, std::size_t length) {
    if (length > 0) crypto_hash_sha256_update(&state_, bytes, length);
  }

  // The digest of everything added; the object is then spent.
  void Finish(unsigned char digest[kDigestBytes]) { crypto_hash_sha256_final(&state_, digest); }

 private:
  crypto_hash_sha256_state state_;
};

#endif  // KIT_STREAM_DIGEST_H_
