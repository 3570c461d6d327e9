// Finishing what a killed installation run left in a template directory: its work folder
// (install/journal_format.h). The caller holds the directory's lock (install/target_lock.h),
// so the folder belongs to a run that has ended.

#ifndef INSTALL_RECOVERY_H_
#define INSTALL_RECOVERY_H_

#include <cstdint>

#include "install/temp_names.h"
#include "text/narrow_string.h"

enum class RecoveryOutcome {
  kNothingLeft,     // no work folder: nothing to do
  kFinishedCommit,  // a run that had succeeded was killed while it tidied up; now tidied
  kRolledBack,      // a run that had not succeeded was rolled back to completion
  kKept,            // something could not be put back, or the folder is not a run's: it
                    // stays, and the directory must not be installed into
};

// Looks at the work folder of target (bytes) and finishes it:
//   - a folder holding "committed": the run succeeded; its backups are removed;
//   - a folder holding a journal: the run is rolled back (install/rollback.h);
//   - a folder holding neither, or a journal without a single record: the run was killed
//     before it changed anything; the folder goes if nothing else is in it;
//   - anything else (not a directory, unknown content): kKept.
// changes_left: as for RollBackRecords.
RecoveryOutcome RecoverWorkFolder(const NarrowString& target, TempNames* names,
                                  int64_t* changes_left = nullptr);

// RecoverWorkFolder under target's lock, taken without waiting: kNothingLeft when target
// has no work folder, does not exist, or another installer is at work in it (its folder is
// then that installer's own).
RecoveryOutcome RecoverTemplateDirectory(const NarrowString& target);

// Tells the user, on standard error, that a killed run's changes to target were undone.
void ReportInterruptedInstallationRolledBack(const NarrowString& target);

#endif  // INSTALL_RECOVERY_H_
