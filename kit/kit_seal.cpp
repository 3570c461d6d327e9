#include "kit/kit_seal.h"

#include <sodium.h>

#include <cstring>

static ErrorCode Damaged(NarrowString* failure, const NarrowString& text) {
  *failure = text;
  return kErrorInvalidData;
}

ErrorCode JudgeKitSeal(const KitStreamEnd& end, const KitPublicKey* required_signer, KitSeal* seal,
                       NarrowString* failure) {
  *seal = KitSeal();
  std::memcpy(seal->digest, end.digest, kDigestBytes);
  KitTrailer trailer;
  TrailerKind kind = TrailerKind::kAbsent;
  if (end.ended) kind = ParseTrailer(end.tail.data(), end.tail.size(), &trailer, failure);
  if (kind == TrailerKind::kDamaged) return kErrorInvalidData;
  if (kind == TrailerKind::kPresent) {
    seal->has_trailer = true;
    if (sodium_memcmp(trailer.digest, end.digest, kDigestBytes) != 0) {
      return Damaged(failure, NarrowString("the SHA-256 of the kit's stream (") +
                                  HexText(end.digest, kDigestBytes) +
                                  ") differs from the one in its integrity trailer (" +
                                  HexText(trailer.digest, kDigestBytes) +
                                  "): the kit was changed after it was packed");
    }
    if (trailer.is_signed) {
      if (!TrailerSignatureValid(trailer)) {
        return Damaged(failure, NarrowString("the signature in the kit's integrity trailer "
                                             "does not verify for the key it names (") +
                                    KeyFingerprint(trailer.signer) + ")");
      }
      seal->is_signed = true;
      seal->signer = trailer.signer;
    }
  }
  if (required_signer == nullptr) return kSuccess;
  const NarrowString wanted = KeyFingerprint(*required_signer);
  if (!seal->is_signed) {
    return Damaged(failure, NarrowString("the kit is not signed; this program accepts only kits "
                                         "signed by key ") +
                                wanted);
  }
  if (sodium_memcmp(seal->signer.bytes, required_signer->bytes, kPublicKeyBytes) != 0) {
    return Damaged(failure, NarrowString("the kit is signed by key ") +
                                KeyFingerprint(seal->signer) +
                                "; this program accepts only kits signed by key " + wanted);
  }
  return kSuccess;
}
