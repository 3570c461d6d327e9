// RunObserver: what an installation run tells about its work as it goes, beyond the progress
// channel's one report: what it did with each kit entry, and how its rollback ended. The run
// log and the counts of a finished run are made from it.
//
// The run calls it on the worker thread, in the order of the work, and never after its final
// report is posted; an implementation that the user-interface thread reads after that report
// needs no lock of its own for what it wrote before it.

#ifndef INSTALL_RUN_OBSERVER_H_
#define INSTALL_RUN_OBSERVER_H_

#include "text/narrow_string.h"
#include "text/wide_string.h"

// What a run does, or a dry run would do, with one kit entry.
enum class EntryAction {
  kNew,       // nothing was at the destination: the file is created
  kReplaced,  // an out-of-date file (or something that is no file) is replaced
  kUpToDate,  // the file on disk stays
};

// "new", "replaced", "up-to-date": the action as the log names it.
const char* EntryActionName(EntryAction action);

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // Entry path (the destination) is done: written and in place, or found up to date.
  virtual void EntryDone(const WideString& path, EntryAction action) = 0;
  // The run's rollback has ended: complete, or with what it could not put back kept in
  // kept_folder (bytes).
  virtual void RolledBack(bool complete, const NarrowString& kept_folder) = 0;
};

#endif  // INSTALL_RUN_OBSERVER_H_
