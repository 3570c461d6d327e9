// The rule that keeps a kit inside the template directory: the installation writes entry
// "name" to template directory + name (every "\" read as "/"), so a name must stay a
// relative path below that directory.
//
// A name is unsafe when, with every "\" read as "/", it
//   - is empty,
//   - holds a zero unit (every path conversion stops there, leaving a different path),
//   - starts with "/" (absolute),
//   - ends with "/" (names a directory, not a file),
//   - has a ".." component,
// or when it cannot be converted to the locale's encoding (ToLocaleBytesExact, as every
// path is): it would name no file, or another one; or when its conversion breaks one of the
// same rules, which no encoding a locale can have does today.

#ifndef KIT_ENTRY_NAME_CHECK_H_
#define KIT_ENTRY_NAME_CHECK_H_

#include "text/wide_string.h"

// Why name must not be installed, as a short phrase ("has a \"..\" component"), or nullptr
// when it is safe.
const char* UnsafeEntryNameReason(const WideString& name);
// The same for a name whose every "\" is already read as "/".
const char* UnsafeEntryPathReason(const WideString& path);

#endif  // KIT_ENTRY_NAME_CHECK_H_
