// Transaction: what one installation run did to the template directory, so that a failed run
// can be undone and a successful one closed.
//
// Before the run replaces a file, the file is moved into a private backup directory under
// the temporary directory, at the same relative path. Every directory level the run makes,
// and every file it writes where nothing existed, is recorded. Commit deletes the backup
// directory. Rollback moves the backed-up files back, deletes the backup directory, the
// directories the run made and the files it created, and puts back the modification times
// of the directories whose entries the run changed: after a rollback the tree under the
// template directory has the names, contents and modification times it had before the run.
//
// The backup directory "t5stp<n>" is made exclusively with mkdir(2), mode 0700, at the
// first free number: a name that exists in any form (a directory left behind, a planted
// link) moves on to the next number, so the directory is always this run's own and nothing
// made by someone else is ever used or deleted.
//
// Directories are made with mkdir(2) (fs/make_directory.h: the outcome of "mkdir -p") and
// files are moved with rename(2) (fs/move_path.h), because a shell process per directory
// or per replaced file cost far more than the installation's own work; only a move across
// file systems (a temporary directory on a file system of its own) goes through the "mv"
// shell command. Trees and files are removed through the shell commands of
// fs/shell_commands.h, except the (still empty) backup directory itself. Nothing is done
// whose outcome is already known: nothing is moved from a path where nothing exists, a
// directory of the backup tree is made once, a destination directory that exists is not
// made again, and nothing is removed where nothing is. A fresh installation or an
// up-to-date run thus starts no shell command at all, and a run that replaces files starts
// one, the removal of the backup tree.
//
// The job keeps one record per run in a list; the operations act on the last (current)
// record. Everything runs on the worker thread; a Transaction is not shared.

#ifndef INSTALL_TRANSACTION_H_
#define INSTALL_TRANSACTION_H_

#include <time.h>

#include <cstdint>
#include <set>
#include <vector>

#include "fs/error_codes.h"
#include "text/wide_string.h"

// A directory that existed before the run, with its modification time before the run's
// first change in it.
struct DirectoryTime {
  WideString path;
  struct timespec modified;
};

struct TransactionRecord {
  // The template directory of the run (ends with "/" unless empty).
  WideString target_directory;
  // temporary directory + "t5stp" + number + "/", made by this run; empty when the target
  // directory is empty or the directory could not be made.
  WideString backup_directory;
  // Directories that did not exist and were made by the run, outermost first.
  std::vector<WideString> created_directories;
  // Paths where the run writes a file where nothing existed, in a directory that existed
  // before the run; Rollback removes them. (New files in the directories the run makes go
  // with those directories.)
  std::vector<WideString> files_to_delete;
  // Pre-existing directories whose entries the run changed, in the order first changed.
  std::vector<DirectoryTime> changed_directories;
  // A file of the backup tree could not be moved back: the backup directory then holds the
  // only copy and is kept.
  bool restore_incomplete = false;

  // Lookups behind the lists above, keyed by path without a trailing "/".
  std::set<WideString> created_lookup;
  std::set<WideString> changed_lookup;
  // Destination directories that existed before the run, as found by
  // CreateDirectoryRecorded. The run removes no directory, so they stay.
  std::set<WideString> existing_lookup;
  // Directories of the backup tree this run made, the backup directory included.
  std::set<WideString> backup_tree_made;
};

class Transaction {
 public:
  Transaction();

  // Appends a record for target and makes its backup directory. 0 for an empty target (no
  // backup directory then). Otherwise the temporary directory is made if it is missing
  // (never recorded: it is shared) and the backup directory is created; returns the code
  // of the step that failed (2, 3 or 87).
  ErrorCode BeginTransaction(const WideString& target);

  // Prepares path (under the target directory) for being written:
  //   nothing exists there (lstat: ENOENT or ENOTDIR): records path in the files to delete,
  //     unless its directory is one the run made or has yet to make, and returns 0;
  //   a file or link exists: moves it (MovePath) to the same relative path in the backup
  //     tree, making the tree's directories first, and returns 0, or the failing step's
  //     code (the file is then left in place and the run must not overwrite it);
  //   the backup tree holds this path already (the kit names it twice): the file at path
  //     is the run's own, 0 without moving;
  //   a directory exists there, or the record has no backup directory: 87.
  ErrorCode BackUpFile(const WideString& path);

  // What BackUpFile does when nothing exists at path, for a caller that has just found so:
  // records path in the files to delete unless its directory is the run's own. 0, or 87
  // without a current record.
  ErrorCode NoteNewFile(const WideString& path);

  // Makes directory and its missing parents and records every level that did not exist,
  // outermost first. 0 for the root and for a path that exists (nothing recorded, nothing
  // made); a directory this run made or found is not looked up again. On failure: 2 from
  // MakeDirectoryTree, or 3 when no parent can be formed (no "/" left, or a parent of two
  // units ending in ":"); levels made before the failure are still recorded.
  ErrorCode CreateDirectoryRecorded(const WideString& directory);

  // Makes a directory of the backup tree and its parents, once per run; nothing recorded.
  // Codes as CreateDirectoryRecorded.
  ErrorCode EnsureDirectory(const WideString& directory);

  // Deletes the backup directory; the created directories stay. Failures are ignored.
  void Commit();

  // Undoes the current record: restores the backup tree, deletes the backup directory, the
  // created directories (in the order recorded) and the files to delete, then puts back the
  // times of the changed directories. Returns code. The one result examined is the restore:
  // when a file could not be moved back, the backup directory that holds it is kept.
  ErrorCode Rollback(ErrorCode code);

  // Moves every file of the backup tree back to the same relative path under target (with
  // MovePath); both end with "/". Directories are not made on the target side. A move that
  // fails marks the current record's restore as incomplete.
  void RestoreTree(const WideString& target, const WideString& backup);

  // Deletes directory with everything in it (one "rm -rf", on the path without a trailing
  // "/", so a link named there is removed and never followed). Nothing runs for an empty
  // path, the root or a path where nothing exists. Always 0.
  ErrorCode DeleteTree(const WideString& directory);

  // The current record, or nullptr before the first BeginTransaction.
  const TransactionRecord* Current() const;
  std::size_t RecordCount() const { return records_.size(); }
  // Shell commands this object has started so far (moves across file systems, removals).
  uint64_t ShellCommandsStarted() const { return shell_commands_started_; }

 private:
  TransactionRecord* MutableCurrent();
  // True when directory was made by this run, or does not exist yet (the run makes it
  // before writing into it): a rollback deletes it with everything in it.
  bool IsRunsOwnDirectory(const WideString& directory) const;
  // Records the times of the directory before the run's first change in it, unless the run
  // made it.
  void NoteDirectoryChange(const WideString& directory);
  // Marks directory and its parents inside the backup directory as made.
  void MarkBackupTreeMade(const WideString& directory);
  // Removes the backup directory: rmdir(2) when nothing was put into it, else DeleteTree.
  void DiscardBackupDirectory();
  void RestoreDirectoryTimes();

  ErrorCode RunMove(const WideString& from, const WideString& to);
  ErrorCode RunRemoveFile(const WideString& path);
  ErrorCode RunRemoveTree(const WideString& path);

  std::vector<TransactionRecord> records_;
  uint64_t shell_commands_started_;
};

#endif  // INSTALL_TRANSACTION_H_
