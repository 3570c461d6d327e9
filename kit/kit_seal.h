// The verdict on a kit's integrity trailer: whether the stream is the one that was packed
// and, where the program holds a key, whether that key signed it.
//
//   no trailer (nothing after the stream, or bytes that do not begin with the magic):
//     accepted as kits always were, unless a signer is required;
//   a trailer cut short, of an unknown version or signature kind, whose digest differs
//     from the stream's, or whose signature does not verify: the kit is damaged;
//   a required signer: the trailer must be signed by exactly that key.
//
// A kit whose stream never reached its end has no trailer to judge; what is missing shows
// when its container is read.

#ifndef KIT_KIT_SEAL_H_
#define KIT_KIT_SEAL_H_

#include "fs/error_codes.h"
#include "kit/inflate_kit.h"
#include "kit/kit_trailer.h"
#include "text/narrow_string.h"

// What an opened kit's trailer showed.
struct KitSeal {
  bool has_trailer = false;
  // The stream's SHA-256, as computed while inflating (whether or not there is a trailer).
  unsigned char digest[kDigestBytes] = {};
  bool is_signed = false;  // signed, with a signature that verifies for signer
  KitPublicKey signer = {};
};

// Judges end (from InflateKitInto). required_signer: the key that must have signed the kit,
// or null for none. Returns 0 with *seal filled, or kErrorInvalidData (13) with *failure
// saying why.
ErrorCode JudgeKitSeal(const KitStreamEnd& end, const KitPublicKey* required_signer,
                       KitSeal* seal, NarrowString* failure);

#endif  // KIT_KIT_SEAL_H_
