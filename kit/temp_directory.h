// The temporary directory: where the kit's container file, the free-space check and the
// installation's backup directory go.

#ifndef KIT_TEMP_DIRECTORY_H_
#define KIT_TEMP_DIRECTORY_H_

#include "text/wide_string.h"

// The value of TMPDIR when it is set and names an existing directory (its status query
// succeeds and the node is a directory), else "/tmp"; converted with FromLocaleBytes and
// always ending with "/". It cannot fail.
WideString GetTempDirectory();

#endif  // KIT_TEMP_DIRECTORY_H_
