// The integrity trailer: what follows a kit's DEFLATE stream to prove that the stream is the
// one its packer wrote and, when signed, whose key signed it (docs/kit-format.md).
//
// Version 1 is 144 bytes, right after the last byte of the stream:
//
//   0    8   magic "EFDSEAL" followed by byte 0x1A
//   8    4   version, 1
//   12   4   signature kind: 0 none, 1 Ed25519
//   16   32  SHA-256 of the compressed stream (the kit's bytes 0 to the stream's end)
//   48   32  the signer's Ed25519 public key (zero when unsigned)
//   80   64  Ed25519 signature of bytes 0-79 of the trailer (zero when unsigned)
//
// Integers are little-endian. Bytes after the trailer are ignored, as bytes after the stream
// always were. Bytes after the stream that do not begin with the magic are no trailer.

#ifndef KIT_KIT_TRAILER_H_
#define KIT_KIT_TRAILER_H_

#include <cstddef>
#include <cstdint>

#include "text/narrow_string.h"

constexpr std::size_t kTrailerMagicBytes = 8;
constexpr unsigned char kTrailerMagic[kTrailerMagicBytes] = {'E', 'F', 'D', 'S',
                                                             'E', 'A', 'L', 0x1A};
constexpr uint32_t kTrailerVersion = 1;
constexpr uint32_t kSignatureNone = 0;
constexpr uint32_t kSignatureEd25519 = 1;

constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSecretKeyBytes = 64;  // libsodium's form: seed, then public key
constexpr std::size_t kSignatureBytes = 64;
// What the signature covers: magic, version, kind, digest and public key.
constexpr std::size_t kTrailerSignedBytes = 80;
constexpr std::size_t kTrailerBytes = kTrailerSignedBytes + kSignatureBytes;  // 144

struct KitPublicKey {
  unsigned char bytes[kPublicKeyBytes];
};

struct KitSecretKey {
  unsigned char bytes[kSecretKeyBytes];
};

struct KitTrailer {
  unsigned char digest[kDigestBytes] = {};
  bool is_signed = false;
  KitPublicKey signer = {};
  unsigned char signature[kSignatureBytes] = {};
};

// What the bytes after the stream hold.
enum class TrailerKind {
  kAbsent,   // nothing, or bytes that do not begin with the magic
  kDamaged,  // the magic, but cut short, of an unknown version or signature kind
  kPresent,  // a whole trailer (its digest and signature still to be checked)
};

// Reads the trailer at the start of tail (the bytes after the stream, as many as there are up
// to kTrailerBytes). On kDamaged, *failure says why.
TrailerKind ParseTrailer(const unsigned char* tail, std::size_t length, KitTrailer* trailer,
                         NarrowString* failure);

// The trailer's 144 bytes.
void EncodeTrailer(const KitTrailer& trailer, unsigned char out[kTrailerBytes]);

// Signs trailer (whose digest is set) with secret: sets is_signed, signer and signature.
// False when the signature cannot be made.
bool SignTrailer(const KitSecretKey& secret, KitTrailer* trailer);

// Whether a signed trailer's signature is sound for the key it names.
bool TrailerSignatureValid(const KitTrailer& trailer);

// A key's short fingerprint: the first 8 bytes of the SHA-256 of the public key, in 16
// lowercase hexadecimal digits.
NarrowString KeyFingerprint(const KitPublicKey& key);

// bytes as lowercase hexadecimal digits.
NarrowString HexText(const unsigned char* bytes, std::size_t length);

// Whether libsodium is ready (it is set up once, on the first call).
bool CryptoReady();

#endif  // KIT_KIT_TRAILER_H_
