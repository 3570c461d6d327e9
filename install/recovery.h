// Finishing what a killed installation run left in a template directory: its work folder
// (install/journal_format.h).
//
// Nothing found there is believed on its say-so. The folder is used only when it is this
// user's own: a real folder (not a link), owned by the effective user and writable by
// nobody else, holding a regular journal (not a link) of this user, no larger than
// kJournalMaxBytes, that begins with the journal's magic. Anything else is left exactly as
// it is, and the directory is not installed into: in a folder shared with others, a work
// folder planted by someone else must not make this user's run delete or replace files on
// that someone's behalf. On a file system without Unix owners and modes (vfat, some network
// mounts), every file shows the mounting user and the mount's one mode: a mount that lets
// others write fails the check (others can indeed change the folder). One that does not
// passes it, although on a network mount with mapped users other clients may still write
// there; what keeps that safe is that even a trusted journal acts only inside the template
// directory, through walks that follow no link, and only on what it proves the run made.
//
// A folder is also left alone while its run may still be at work: the caller holds the
// directory's lock, which proves the run that wrote the folder has ended; where the file
// system has no locks, or the journal names another host, only the journal's owner record
// can prove it (install/run_owner.h), and a run that cannot be proven ended is never rolled
// back by another.

#ifndef INSTALL_RECOVERY_H_
#define INSTALL_RECOVERY_H_

#include <cstdint>

#include "install/temp_names.h"
#include "text/narrow_string.h"

enum class RecoveryOutcome {
  kNothingLeft,     // no work folder: nothing to do
  kTidiedUp,        // a run killed before its first change, or after its commit while it
                    // tidied up: its folder is gone, and nothing needed undoing
  kRolledBack,      // a run that had not succeeded was rolled back to completion
  kKept,            // something could not be put back: the folder stays, with the
                    // originals, and the directory must not be installed into
  kUntrusted,       // the folder is not this user's own work folder: left as it is
  kBusy,            // its run may still be at work: left as it is
};

// Why a folder was kept, refused or left to its run, in words for standard error.
struct RecoveryDetail {
  NarrowString reason;
};

// Looks at the work folder of the template directory open as root (target: its path, for
// messages and for removing a directory the killed run made) and finishes it:
//   - a folder holding "committed": the run succeeded; its backups are removed;
//   - a folder holding a journal with changes: the run is rolled back (install/rollback.h);
//   - a folder holding neither, or a journal without a change: the run was killed before it
//     changed anything; the folder goes if nothing else is in it;
//   - a folder that fails the checks above: kUntrusted; one whose run may live: kBusy.
// lock_held: whether the caller holds the directory's lock. changes_left: as for
// RollBackRecords.
RecoveryOutcome RecoverWorkFolder(int root, const NarrowString& target, bool lock_held,
                                  TempNames* names, RecoveryDetail* detail,
                                  int64_t* changes_left = nullptr);

// RecoverWorkFolder under target's lock, taken without waiting: kNothingLeft when target
// has no work folder, does not exist, or another installer is at work in it (its folder is
// then that installer's own).
RecoveryOutcome RecoverTemplateDirectory(const NarrowString& target, RecoveryDetail* detail);

// The process id the work folder's journal names as its run; false when there is none to
// read.
bool ReadWorkFolderOwnerPid(int root, uint32_t* pid);

// Tells the user, on standard error, that a killed run's changes to target were undone.
void ReportInterruptedInstallationRolledBack(const NarrowString& target);
// Tells the user, on standard error, why the work folder of target was left as it is.
void ReportWorkFolderLeftAlone(const NarrowString& target, RecoveryOutcome outcome,
                               const RecoveryDetail& detail);

#endif  // INSTALL_RECOVERY_H_
