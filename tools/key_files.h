// The key files of efdtool keygen: one line of text each, a kind word and the key in
// lowercase hexadecimal digits.
//
//   efdtool-ed25519-secret <128 digits: libsodium's secret key, seed then public key>
//   efdtool-ed25519-public <64 digits>
//
// The public file is what a vendor's build takes (-DSETUP_KIT_PUBLIC_KEY=FILE, read by
// cmake/KitKey.cmake) and what efdtool verify --key compares with.

#ifndef TOOLS_KEY_FILES_H_
#define TOOLS_KEY_FILES_H_

#include "kit/kit_trailer.h"
#include "text/narrow_string.h"

constexpr char kSecretKeyWord[] = "efdtool-ed25519-secret";
constexpr char kPublicKeyWord[] = "efdtool-ed25519-public";

// Makes a new key pair and writes it: the secret file with mode 0600, made anew (an existing
// file is never overwritten), the public file with what the umask allows. On failure nothing
// stays behind and *failure names the path and the system's reason.
bool WriteNewKeyPair(const NarrowString& secret_path, const NarrowString& public_path,
                     KitPublicKey* made, NarrowString* failure);

// Reads a key file; false with *failure naming the path and what is wrong.
bool ReadSecretKeyFile(const NarrowString& path, KitSecretKey* key, NarrowString* failure);
bool ReadPublicKeyFile(const NarrowString& path, KitPublicKey* key, NarrowString* failure);

#endif  // TOOLS_KEY_FILES_H_
