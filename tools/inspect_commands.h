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
// Returns 0 for a sound kit, else 1.
int RunVerify(const NarrowString& kit_path, std::FILE* out, std::FILE* err);

#endif  // TOOLS_INSPECT_COMMANDS_H_
