// RunTally: the run observer of the installer dialog. It counts what the run did with its
// entries (whether anything was written decides between "installed" and "up-to-date") and
// writes an entry record and a rollback record to the run's log, if one is open.
//
// The worker calls it; the counts are atomic, so the user-interface thread may read them
// while the run goes on (the progress line on a terminal).

#ifndef UI_RUN_TALLY_H_
#define UI_RUN_TALLY_H_

#include <atomic>
#include <cstdint>

#include "app/run_log.h"
#include "install/run_observer.h"

class RunTally : public RunObserver {
 public:
  // log may be null, or a log that is not open.
  explicit RunTally(RunLog* log) : log_(log) {}

  void EntryDone(const WideString& path, EntryAction action) override;
  void RolledBack(bool complete, const NarrowString& kept_folder) override;

  // Counts back to 0, before a run.
  void Reset();
  uint64_t Count(EntryAction action) const;
  // Entries done so far, whatever was done with them.
  uint64_t Done() const;

 private:
  RunLog* log_;
  std::atomic<uint64_t> new_{0};
  std::atomic<uint64_t> replaced_{0};
  std::atomic<uint64_t> up_to_date_{0};
};

#endif  // UI_RUN_TALLY_H_
