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
// or when its conversion to the locale's encoding (ToLocaleBytes, which the installation
// uses and which stops at the first unit the encoding cannot represent) breaks one of the
// same rules: a name such as "..<unencodable>/x" must not turn into "..".

#ifndef KIT_ENTRY_NAME_CHECK_H_
#define KIT_ENTRY_NAME_CHECK_H_

#include "text/wide_string.h"

// Why name must not be installed, as a short phrase ("has a \"..\" component"), or nullptr
// when it is safe.
const char* UnsafeEntryNameReason(const WideString& name);

#endif  // KIT_ENTRY_NAME_CHECK_H_
