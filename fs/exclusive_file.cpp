#include "fs/exclusive_file.h"

#include <errno.h>
#include <fcntl.h>

int CreateExclusiveFile(int folder, const ExclusiveNameProposal& propose, int flags,
                        mode_t mode, NarrowString* name) {
  for (int attempt = 0; attempt < kExclusiveNameAttempts; ++attempt) {
    NarrowString candidate;
    if (!propose(attempt, &candidate)) return -1;
    *name = candidate;
    const int descriptor =
        openat(folder, name->CStr(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (descriptor >= 0) return descriptor;
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}
