// The key that kits must be signed with, fixed when the program is built: a vendor's release
// is configured with -DSETUP_KIT_PUBLIC_KEY=FILE (a public key file from efdtool keygen).

#ifndef KIT_BUILT_IN_KEY_H_
#define KIT_BUILT_IN_KEY_H_

#include "kit/kit_trailer.h"

// The built-in key, or null in a build without one (which accepts unsigned kits).
const KitPublicKey* BuiltInKitKey();

#endif  // KIT_BUILT_IN_KEY_H_
