// Rolling back what an installation run did to a template directory, from its journal
// records: the records of a run that failed (in memory) and those of a run that was killed
// (read back from its work folder) take the same path.
//
// Everything happens relative to the template directory's descriptor, name by name, and no
// link is followed (fs/beneath.h): a record whose path leads through a link names nothing
// the run made, and is passed over. What may be removed or replaced is only what a record
// proves to be the run's own (install/journal_format.h): a temporary file carrying the run's
// number, or a file or folder whose device and inode the run recorded and that is still at
// its name. A folder the run made goes only once it is empty of everything else; what a
// user put there since stays, and so does the folder that holds it.
//
// Order, chosen so that a rollback never needs free space and never makes things worse:
//   1. the run's temporary files and the files it put where nothing was are removed;
//   2. the folders it made are emptied of the run's own entries and removed, the last made
//      first (and, when it made the template directory itself, the run's own entries of
//      that directory go too);
//   3. every original in the backup folder, recorded or not, is put back where its name is
//      empty, holds the run's own file, or still holds the original itself; an original
//      whose name now holds something else is kept, and the rollback is incomplete;
//   4. the modification times of the directories it changed are put back, the last one
//      first (the template directory's again once its work folder is gone);
//   5. when all of that succeeded, the work folder is removed (its journal last), and with
//      it the template directory and the directories above it when the run made them (only
//      while they are empty).
// Every step looks at what is there and does nothing where its work is done, so a rollback
// that is itself killed can be started again and completes. A record that names something
// outside the template directory, or inside the work folder, is ignored.
//
// When an original cannot be put back (or a new file cannot be removed), the rollback goes
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

struct RollbackContext {
  // The template directory, open, and its path (for removing it when the run made it).
  int root = -1;
  const NarrowString* target = nullptr;
  // The work folder as the caller checked it, when it did (else it is opened by name).
  int work = -1;
  // The run number of the temporary names of the run being undone, when known in memory
  // (the journal's kOwner record names it otherwise).
  NarrowString run_number;
  // The files the run made, known in memory beside the records (the journal's
  // kMadeIdentity records of files name them otherwise).
  const std::vector<NodeIdentity>* made_files = nullptr;
  // When open, first receives the names of the temporary files a move back across file
  // systems makes.
  JournalWriter* journal = nullptr;
  TempNames* names = nullptr;
  // When given, how many changes the rollback may still make: it stops where it is, as a
  // killed process would, when none is left (and returns false). Each removal, move, rename
  // or time it sets is one change.
  int64_t* changes_left = nullptr;
};

// Rolls back records in the template directory of context. True when everything was undone
// and the work folder is gone.
bool RollBackRecords(const RollbackContext& context, const std::vector<JournalRecord>& records);

// Removes the work folder of the template directory open as root: the backup folder, then
// the committed marker and the journal, then the folder, each only once what comes before it
// is gone. 0, or the code of the first failure, which ends the removal (kErrorCancelled when
// changes_left ran out).
// work: the work folder as the caller checked it, or -1 to open it by name.
ErrorCode RemoveWorkFolder(int root, int64_t* changes_left = nullptr, int work = -1);

// Gives relative (beneath root; empty for root itself) back the modification time a record
// kept, without following a link. Best effort: a folder's time that cannot be put back loses
// no file.
void PutBackModificationTime(int root, const NarrowString& relative, int64_t seconds,
                             uint32_t nanoseconds);

#endif  // INSTALL_ROLLBACK_H_
