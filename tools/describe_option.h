// The kit tool's description option: "LANG:PRODUCT:VENDOR:DOCUMENT".

#ifndef TOOLS_DESCRIBE_OPTION_H_
#define TOOLS_DESCRIBE_OPTION_H_

#include "kit/kit_records.h"
#include "text/narrow_string.h"

// Splits text at its first three ":" (the document, last, may itself hold ":") and converts
// the four parts exactly (tools/locale_text.h). Any part may be empty. False, with failure
// saying why, when there are fewer than three ":" or a part does not convert.
bool ParseDescribeOption(const NarrowString& text, KitInfo* info, NarrowString* failure);

#endif  // TOOLS_DESCRIBE_OPTION_H_
