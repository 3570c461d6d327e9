// Who keeps a work folder: the journal's first record names the run (host, boot, process
// and its start time), so that another run can tell a run that has ended from one that may
// still be at work. The directory's lock (install/target_lock.h) says that on its own where
// the file system has locks; where it has none, only this record can prove a run dead, and
// a run that cannot be proven dead is never rolled back by another.

#ifndef INSTALL_RUN_OWNER_H_
#define INSTALL_RUN_OWNER_H_

#include "install/journal.h"
#include "text/narrow_string.h"

// This process, as the owner of a run whose temporary names carry run_number.
RunOwner CurrentRunOwner(const NarrowString& run_number);

enum class OwnerState {
  kEnded,    // same host: an earlier boot, or no live process with that id and start time
  kAlive,    // a live process with that id and start time, on this host and boot
  kUnknown,  // another host, or this host's identity cannot be read
};

OwnerState JudgeRunOwner(const RunOwner& owner);

#endif  // INSTALL_RUN_OWNER_H_
