#include "kit/built_in_key.h"

// Generated at configure time (cmake/KitKey.cmake): defines SETUP_KIT_KEY_BYTES as the 32
// bytes of the key, or nothing in a build without one.
#include "built_in_key_bytes.h"

const KitPublicKey* BuiltInKitKey() {
#ifdef SETUP_KIT_KEY_BYTES
  static const KitPublicKey key = {{SETUP_KIT_KEY_BYTES}};
  return &key;
#else
  return nullptr;
#endif
}
