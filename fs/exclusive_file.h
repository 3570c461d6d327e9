// Creating a file under a name nothing else holds. The name is only a proposal: the creation
// itself (O_CREAT | O_EXCL, the last name not followed) is what guarantees that the file is
// new and this process's own, whatever someone planted at the name before, a symbolic link
// dangling or not included. A name found taken is followed by the next one.

#ifndef FS_EXCLUSIVE_FILE_H_
#define FS_EXCLUSIVE_FILE_H_

#include <sys/types.h>

#include <functional>

#include "text/narrow_string.h"

// How many names CreateExclusiveFile tries before it gives up.
constexpr int kExclusiveNameAttempts = 100;

// Proposes the name for attempt 0, 1, ... of CreateExclusiveFile; returning false ends the
// attempts (the caller that passed it knows why).
using ExclusiveNameProposal = std::function<bool(int attempt, NarrowString* name)>;

// Creates a new file in folder (a directory descriptor; AT_FDCWD where the names are paths)
// under the name propose gives, opened with flags | O_CREAT | O_EXCL | O_NOFOLLOW |
// O_CLOEXEC and mode (before the umask). A name found taken (EEXIST) is followed by the next
// proposal, up to kExclusiveNameAttempts names. Returns the new file's descriptor with *name
// its name, or -1 with errno: that of the failed creation, EEXIST when every name was taken,
// or, when propose ended the attempts, as propose left it. *name holds the last name tried
// in any case (it is left as it was when no name was proposed).
int CreateExclusiveFile(int folder, const ExclusiveNameProposal& propose, int flags,
                        mode_t mode, NarrowString* name);

#endif  // FS_EXCLUSIVE_FILE_H_
