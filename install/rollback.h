// Rolling back what an installation run did to a template directory, from its journal
// records: the records of a run that failed (in memory) and those of a run that was killed
// (read back from its work folder) take the same path.
//
// Order, chosen so that a rollback never needs free space and never makes things worse:
//   1. the run's temporary files and the files it put where nothing was are removed;
//   2. the directories it made are removed with everything in them, the last made first
//      (and, when it made the template directory itself, everything in that directory
//      but the work folder);
//   3. every file recorded as backed up whose original is in the backup folder is moved
//      back over whatever the run put in its place; only recorded names are moved, so a
//      partial copy never comes back;
//   4. the modification times of the directories it changed are put back, the last one
//      first (the template directory's again once its work folder is gone);
//   5. when all of that succeeded, the work folder is removed (its journal last), and with
//      it the template directory and the directories above it when the run made them (only
//      while they are empty).
// Every step looks at what is there and does nothing where its work is done, so a rollback
// that is itself killed can be started again and completes. A record that names something
// outside the template directory, or inside the work folder, is ignored.
//
// When an original cannot be moved back (or a new file cannot be removed), the rollback goes
// on with the rest and then keeps the work folder, backups and journal included: the
// originals stay there for the user, and the next run tries again.

#ifndef INSTALL_ROLLBACK_H_
#define INSTALL_ROLLBACK_H_

#include <cstdint>
#include <vector>

#include "fs/error_codes.h"
#include "install/journal.h"
#include "install/temp_names.h"
#include "text/narrow_string.h"

// Rolls back records in the template directory target (bytes). journal, when open, first
// receives the names of the temporary files a move back across file systems makes. True
// when everything was undone and the work folder is gone.
//
// changes_left, when given, is how many changes the rollback may still make: it stops
// where it is, as a killed process would, when none is left (and returns false). Each
// removal, move, rename or time it sets is one change.
bool RollBackRecords(const NarrowString& target, const std::vector<JournalRecord>& records,
                     JournalWriter* journal, TempNames* names, int64_t* changes_left = nullptr);

// Removes the work folder of target: the backup folder, then the committed marker and the
// journal, then the folder, each only once what comes before it is gone. 0, or the code of
// the first failure, which ends the removal (kErrorCancelled when changes_left ran out).
ErrorCode RemoveWorkFolder(const NarrowString& target, int64_t* changes_left = nullptr);

// Gives path back the modification time a record kept. Best effort: a folder's time that
// cannot be put back loses no file.
void PutBackModificationTime(const NarrowString& path, int64_t seconds, uint32_t nanoseconds);

#endif  // INSTALL_ROLLBACK_H_
