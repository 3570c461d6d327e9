// efdtool list and efdtool verify: open a kit exactly as the installer does
// (DistributionKit::Open) and report on it. The kit's container has no name, so however the
// command ends it leaves nothing behind.

#ifndef TOOLS_INSPECT_COMMANDS_H_
#define TOOLS_INSPECT_COMMANDS_H_

#include <cstdio>

#include "text/narrow_string.h"

// Prints the descriptions, then per entry its size, time (UTC) and name, then the totals.
// Returns 0, or 1 when the kit does not open (the reason goes to err).
int RunList(const NarrowString& kit_path, std::FILE* out, std::FILE* err);

// Says whether the kit is sound; if not, what is wrong (which record, which field) on err.
// For a sound kit it prints the SHA-256 of the compressed stream and whether the kit has an
// integrity trailer, is signed, and by which key (its fingerprint, kit/kit_trailer.h).
// key_path, when not null, names a public key file: the kit must be signed by that key.
// Returns 0 for a sound kit (signed by the key, when one is given), else 1.
int RunVerify(const NarrowString& kit_path, const NarrowString* key_path, std::FILE* out,
              std::FILE* err);

#endif  // TOOLS_INSPECT_COMMANDS_H_
