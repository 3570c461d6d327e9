#include "kit/kit_trailer.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>

#include "kit/little_endian.h"

static_assert(kDigestBytes == crypto_hash_sha256_BYTES, "SHA-256 digest size");
static_assert(kPublicKeyBytes == crypto_sign_PUBLICKEYBYTES, "Ed25519 public key size");
static_assert(kSecretKeyBytes == crypto_sign_SECRETKEYBYTES, "Ed25519 secret key size");
static_assert(kSignatureBytes == crypto_sign_BYTES, "Ed25519 signature size");

// Field offsets inside the trailer.
constexpr std::size_t kVersionAt = 8;
constexpr std::size_t kKindAt = 12;
constexpr std::size_t kDigestAt = 16;
constexpr std::size_t kSignerAt = 48;
constexpr std::size_t kSignatureAt = 80;

bool CryptoReady() { return sodium_init() >= 0; }

TrailerKind ParseTrailer(const unsigned char* tail, std::size_t length, KitTrailer* trailer,
                         NarrowString* failure) {
  if (length < kTrailerMagicBytes || std::memcmp(tail, kTrailerMagic, kTrailerMagicBytes) != 0) {
    return TrailerKind::kAbsent;
  }
  char text[128];
  if (length < kTrailerBytes) {
    std::snprintf(text, sizeof text,
                  "the integrity trailer is cut short (%zu of its %zu bytes are there)", length,
                  kTrailerBytes);
    *failure = text;
    return TrailerKind::kDamaged;
  }
  const uint32_t version = LoadLittleEndian32(tail + kVersionAt);
  if (version != kTrailerVersion) {
    std::snprintf(text, sizeof text,
                  "the integrity trailer has version %u, which this program does not know",
                  static_cast<unsigned>(version));
    *failure = text;
    return TrailerKind::kDamaged;
  }
  const uint32_t kind = LoadLittleEndian32(tail + kKindAt);
  if (kind != kSignatureNone && kind != kSignatureEd25519) {
    std::snprintf(text, sizeof text,
                  "the integrity trailer names signature kind %u, which this program does not know",
                  static_cast<unsigned>(kind));
    *failure = text;
    return TrailerKind::kDamaged;
  }
  std::memcpy(trailer->digest, tail + kDigestAt, kDigestBytes);
  trailer->is_signed = kind == kSignatureEd25519;
  std::memcpy(trailer->signer.bytes, tail + kSignerAt, kPublicKeyBytes);
  std::memcpy(trailer->signature, tail + kSignatureAt, kSignatureBytes);
  return TrailerKind::kPresent;
}

void EncodeTrailer(const KitTrailer& trailer, unsigned char out[kTrailerBytes]) {
  std::memset(out, 0, kTrailerBytes);
  std::memcpy(out, kTrailerMagic, kTrailerMagicBytes);
  StoreLittleEndian32(kTrailerVersion, out + kVersionAt);
  StoreLittleEndian32(trailer.is_signed ? kSignatureEd25519 : kSignatureNone, out + kKindAt);
  std::memcpy(out + kDigestAt, trailer.digest, kDigestBytes);
  if (trailer.is_signed) {
    std::memcpy(out + kSignerAt, trailer.signer.bytes, kPublicKeyBytes);
    std::memcpy(out + kSignatureAt, trailer.signature, kSignatureBytes);
  }
}

bool SignTrailer(const KitSecretKey& secret, KitTrailer* trailer) {
  if (!CryptoReady()) return false;
  trailer->is_signed = true;
  // The public half sits in the second half of libsodium's secret key.
  std::memcpy(trailer->signer.bytes, secret.bytes + kSecretKeyBytes - kPublicKeyBytes,
              kPublicKeyBytes);
  unsigned char encoded[kTrailerBytes];
  EncodeTrailer(*trailer, encoded);
  if (crypto_sign_detached(trailer->signature, nullptr, encoded, kTrailerSignedBytes,
                           secret.bytes) != 0) {
    trailer->is_signed = false;
    return false;
  }
  // A secret key file whose halves do not belong together would sign with a public key
  // nobody can verify against: such a kit is not written.
  return TrailerSignatureValid(*trailer);
}

bool TrailerSignatureValid(const KitTrailer& trailer) {
  if (!trailer.is_signed || !CryptoReady()) return false;
  unsigned char encoded[kTrailerBytes];
  EncodeTrailer(trailer, encoded);
  return crypto_sign_verify_detached(trailer.signature, encoded, kTrailerSignedBytes,
                                     trailer.signer.bytes) == 0;
}

NarrowString HexText(const unsigned char* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  NarrowString text;
  for (std::size_t i = 0; i < length; ++i) {
    const char pair[3] = {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15], '\0'};
    text.Append(pair);
  }
  return text;
}

NarrowString KeyFingerprint(const KitPublicKey& key) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, key.bytes, kPublicKeyBytes);
  return HexText(digest, 8);
}
