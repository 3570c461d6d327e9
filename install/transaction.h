// Transaction: what one installation run does to the template directory, made so that the
// run can be undone whatever happens to it: a failure, a full disk, the process killed, or
// the power cut.
//
// Rules the run keeps (install/journal_format.h has the on-disk layout, the states of the
// work folder and what each record proves):
//   - One directory, held open: the template directory is opened once (never through a link
//     at its own name) and everything the run and its rollback do happens relative to that
//     descriptor, name by name, without following a link (fs/beneath.h). A directory
//     swapped for a link while the run works changes nothing outside the directory the run
//     opened, and the commit then fails, so the run is undone there.
//   - No half-written file under a final name: a file is written under a temporary name in
//     its own folder (created exclusively), stamped and closed; the run's files wait so
//     until PublishPending, which makes their data durable with one sync of the file system
//     and only then renames them over their final names.
//   - A backup is a second name for the very file: the file being replaced is hard-linked
//     (or, where the file system has no hard links, renamed) into the backup folder of the
//     run's work folder, so a backup needs no free space and cannot be partial, and the
//     name never stands empty. Only where the file's folder is on another file system (a
//     mount inside the template directory) is it copied there, under a temporary name that
//     becomes the backup's name once the copy is whole.
//   - Write-ahead journal: every change is recorded before it is made, through Guard. A
//     record reaches the kernel before its change (enough for a kill); the records before a
//     rename, link or removal are also on the disk before it (enough for a power cut).
//     Everything the run makes is recorded with its identity (device and inode), so that a
//     rollback removes only what is still the run's own, and nothing a user put there since.
//   - One run at a time per template directory (install/target_lock.h), for the whole run;
//     a work folder found there is finished only when its run is proven to have ended.
//   - Rollback removes the run's new files and folders first and then puts the originals
//     back (install/rollback.h); what cannot be put back stays in the work folder, and
//     RestoreIncomplete says so.
// The work folder is made on the run's first change: a run that finds everything up to date
// changes nothing at all, not even a directory's time. When a run succeeds, the commit
// publishes what waits, syncs the file system, marks the journal committed, syncs that, and
// removes the work folder; the template directory then gets its time back unless the run
// changed its own entries. Two syncs of the file system per run, whatever its size.
//
// Calls in order: BeginTransaction, then CreateDirectoryRecorded / BeginFile / CompleteFile
// or AbandonFile / PublishPending in any number, then exactly one of Commit or Rollback (or
// End, as a killed process would leave it). Debug builds assert the order.
//
// Paths: the template directory is taken as the bytes of its TargetDirectory
// (fs/target_directory.h), as they are; everything else is bytes relative to it. Everything
// runs on the worker thread, except the writing of new files in folders the run made, which
// other threads may do between OpenOwnFolder / PrepareOwnFile and AdoptFile
// (install/own_file_writers.h).

#ifndef INSTALL_TRANSACTION_H_
#define INSTALL_TRANSACTION_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "fs/beneath.h"
#include "fs/error_codes.h"
#include "fs/target_directory.h"
#include "install/journal.h"
#include "install/stop_signal.h"
#include "install/target_lock.h"
#include "install/temp_names.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// A file being written: what BeginFile made, CompleteFile queues and PublishPending puts in
// place.
struct PendingFile {
  NarrowString relative;       // the final name, relative to the template directory
  NarrowString temp_relative;  // the temporary name it is written under
  int descriptor = -1;         // the temporary file, open for writing
  bool replaces = false;       // something is at the final name and is moved away first
  bool created = false;        // the temporary file exists
  NodeIdentity identity;       // the temporary file's device and inode, and its size
};

// Why BeginTransaction refused a directory that holds a work folder it did not finish.
enum class WorkFolderRefusal {
  kNone,
  kKept,       // a rollback could not undo everything: the originals wait there
  kUntrusted,  // not this user's own, open to others, a link, or no journal of a run
  kBusy,       // its run may still be at work (no locks here, or another host)
};

class Transaction {
 public:
  // stop, when given, ends a wait for the template directory's lock (the run then ends with
  // kErrorCancelled, having changed nothing); without it the wait lasts until the lock is
  // free.
  explicit Transaction(StopSignal* stop = nullptr);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Called once, on the worker thread, when the run has to wait for another installation
  // into the same directory; the text says so (and names the other process where known).
  void SetWaitObserver(std::function<void(const NarrowString& text)> observer) {
    wait_observer_ = std::move(observer);
  }

  // Begins a run into target: a target with a Problem() fails with that code (an
  // unencodable one kErrorInvalidParameter, an empty or relative one kErrorPathNotFound);
  // otherwise the run makes its Bytes() directory and its missing parents (recorded), opens
  // it (a link at its name is kErrorInvalidParameter), locks it, and finishes a work folder
  // left by a killed run. A work folder that cannot be finished, is not trusted, or whose
  // run may still be at work fails with kErrorInvalidParameter and Refusal() then says why
  // (RestoreIncomplete() for one whose rollback is incomplete). Other codes: those of making
  // the directory (2) and of the lock wait (kErrorCancelled).
  ErrorCode BeginTransaction(const TargetDirectory& target);
  // The same for the TargetDirectory of target.
  ErrorCode BeginTransaction(const WideString& target);

  // Makes directory (relative; empty for the template directory) and its missing parents,
  // recording every level it makes. 0 when it exists already (in any form: what is in the
  // way shows when the file is opened). A directory this run made or found is not looked
  // up again. kErrorNotFound when a level cannot be made.
  ErrorCode CreateDirectoryRecorded(const NarrowString& directory);

  // Starts the file that is to take the place of relative: records it, then creates its
  // temporary file exclusively in its folder. replaces: something exists at relative (it
  // must not be a directory). On success file holds the open descriptor; on failure
  // nothing is left.
  ErrorCode BeginFile(const NarrowString& relative, bool replaces, PendingFile* file);
  // Takes a file whose bytes are written and stamped and whose descriptor is closed
  // (descriptor -1) into the batch that PublishPending puts in place, and records its
  // identity as it is now. On failure the temporary file is removed.
  ErrorCode CompleteFile(PendingFile* file);
  // Puts every completed file in place: syncs the file systems they lie on and the journal,
  // then, file by file, keeps what is at the final name in the backup (unless it is the
  // run's own or there is nothing) and renames the temporary file over the final name. On
  // failure the files not yet in place are abandoned and the originals, if any, are either
  // back in place or held in the backup for the rollback.
  ErrorCode PublishPending();
  // The file PublishPending could not put in place (relative; empty when the failure was
  // no single file's), with errno still telling why.
  const NarrowString& FailedRelativePath() const { return failed_relative_; }
  // Whether completed files wait for PublishPending.
  bool HasPending() const { return !pending_.empty(); }
  // Removes the temporary file of a file that is not completed (closing it if open).
  void AbandonFile(PendingFile* file);

  // Files in folders the run made need no record before they are made, so other threads may
  // make and write them (install/own_file_writers.h); the transaction itself stays on the
  // worker thread. OpenOwnFolder gives a new descriptor (O_PATH; the caller closes it) of
  // directory, which must be the run's own, and counts its file system among those synced
  // before files take their names; -1 with errno set when it cannot be opened.
  int OpenOwnFolder(const NarrowString& directory);
  // Names the file that is to take relative (in a folder the run made, nothing there yet):
  // its temporary name, nothing recorded, nothing created.
  void PrepareOwnFile(const NarrowString& relative, PendingFile* file);
  // Creates the temporary file of file exclusively in folder (O_EXCL, no link followed), with
  // the mode of the run's files: its descriptor, or -1 with errno set. Safe on any thread.
  static int CreateTempFile(int folder, const PendingFile& file);
  // Closes the descriptor of a temporary file that BeginFile or CreateTempFile opened; the
  // kit's copy only writes through it, so the file is closed where it was opened. 0, or the
  // code of the close's errno (left set): a delayed write failure of the file's bytes shows
  // here. *descriptor is -1 afterwards either way.
  static ErrorCode CloseTempFile(int* descriptor);
  // Takes a file that another thread created exclusively under the name PrepareOwnFile gave
  // it, wrote, stamped, closed (descriptor -1) and identified (created, identity set) into
  // the batch, as CompleteFile does.
  void AdoptFile(PendingFile* file);

  // Keeps the run's changes: see above. Fails (with the run's changes still undoable by
  // Rollback) when a file cannot be put in place, a sync fails, the template directory's
  // name no longer names the directory the run opened, or the journal cannot be marked
  // committed; failures after that leave a work folder that the next run tidies up, and do
  // not undo the run.
  ErrorCode Commit();
  // Undoes the run (RestoreIncomplete tells whether all of it). Releases the lock. Never
  // after the commit point.
  void Rollback();
  // Whether a successful Commit left its backups for the next start, since the commit
  // point could not be made durable (the disk failed a sync).
  bool TidyUpDeferred() const { return tidy_up_deferred_; }
  // Releases the lock (Commit and Rollback do it too).
  void End();

  // Whether directory (relative) was made by this run: nothing was in it before the run, so
  // a name the run has not written there needs no lookup.
  bool IsRunsOwnDirectory(const NarrowString& directory) const;

  // A descriptor of the folder directory (relative), kept open while the entries of that
  // folder are examined and written: a file's name is then looked up in its folder alone,
  // not along its whole path, for each of the calls that make it. -1 with errno set when
  // the folder cannot be opened (it is tried again on the next call).
  int FolderDescriptor(const NarrowString& directory);

  // The template directory as bytes (ends with "/"), once BeginTransaction converted it.
  const NarrowString& Target() const { return target_; }
  // Whether the last rollback, or the work folder of a killed run, left originals or other
  // changes that could not be undone; BackupFolder then holds them.
  bool RestoreIncomplete() const { return restore_incomplete_; }
  NarrowString BackupFolder() const;
  // Whether BeginTransaction rolled back the work folder of a killed run.
  bool RolledBackInterruptedRun() const { return rolled_back_interrupted_run_; }
  // Why BeginTransaction refused the directory's work folder, and in words for standard
  // error (empty unless refused).
  WorkFolderRefusal Refusal() const { return refusal_; }
  const NarrowString& RefusalReason() const { return refusal_reason_; }

 private:
  // Tests look at the records and the directories made (install/install_test_access.h).
  friend class InstallTestAccess;

  enum class State { kIdle, kBegun, kEnded };

  // Makes the template directory and the missing levels above it; records how many it made.
  ErrorCode MakeTarget();
  // Opens the template directory as the run's root and locks it.
  ErrorCode OpenAndLockTarget();
  // Finishes a work folder a killed run left; kSuccess or the refusal's code.
  ErrorCode RecoverLeftWorkFolder();
  // Makes the work folder and its journal, when not yet made.
  ErrorCode EnsureJournal();
  // The write-ahead step before every change: writes the records added so far, and makes
  // them durable too when the change is a rename, link or removal (durable).
  ErrorCode Guard(bool durable);
  // Syncs every file system the run has written to.
  ErrorCode SyncWrittenFileSystems();
  // Whether the template directory's name still names the directory the run opened.
  bool TargetStillNamed() const;
  // Puts one completed file in place (see PublishPending).
  ErrorCode PublishFile(PendingFile* file);
  // Whether every completed file is new and lies in a folder the run made: nothing to back
  // up, nothing to record, so they may take their names on two threads.
  bool OnlyNewFilesInOwnFolders() const;
  ErrorCode PublishNewFilesOnTwoThreads();
  void AddRecord(const JournalRecord& record);
  void AddPathRecord(JournalKind kind, const NarrowString& path);
  // Adds kRetracted for a record whose name was taken by someone else, and writes it.
  ErrorCode Retract(JournalKind kind, const NarrowString& path);
  // Records the time of a pre-existing directory before the run's first change in it.
  void NoteDirectoryChange(const NarrowString& directory);
  // Gives what is at relative its name in the backup folder (see above).
  ErrorCode BackUpFile(const NarrowString& relative);
  // Makes the folders of the backup tree that relative's original needs and opens the one
  // for it (-1 with the code in *code).
  int OpenBackupFolder(const NarrowString& relative_directory, ErrorCode* code);

  State state_ = State::kIdle;
  std::function<void(const NarrowString&)> wait_observer_;
  StopSignal* stop_;
  // Waited on when no stop signal is given: never requested.
  StopSignal never_stopped_;
  NarrowString target_;
  // The template directory, opened once; and the work folder, once made.
  int root_ = -1;
  int work_ = -1;
  NodeIdentity root_identity_;
  TargetLock lock_;
  JournalWriter journal_;
  TempNames names_;
  std::vector<JournalRecord> records_;
  // The run made the template directory, and levels directories above it.
  bool made_target_ = false;
  uint32_t levels_above_target_ = 0;
  struct timespec holder_time_ = {0, 0};
  std::vector<NarrowString> created_directories_;
  std::set<NarrowString> created_lookup_;
  std::set<NarrowString> existing_lookup_;
  std::set<NarrowString> changed_directories_;
  std::set<NarrowString> backup_directories_made_;
  // The folder of the last file, and its descriptor (or -1).
  NarrowString folder_;
  int folder_descriptor_ = -1;
  // Final names this run has written in folders it did not make.
  std::set<NarrowString> own_files_;
  // Completed files waiting to be put in place.
  std::vector<PendingFile> pending_;
  NarrowString failed_relative_;
  // The identity of every file the run made (their journal records are on disk only).
  std::vector<NodeIdentity> made_files_;
  // One open folder per file system the run has written to, for syncfs.
  std::map<uint64_t, int> written_devices_;
  WorkFolderRefusal refusal_ = WorkFolderRefusal::kNone;
  NarrowString refusal_reason_;
  bool holds_originals_ = false;
  bool committed_ = false;
  bool tidy_up_deferred_ = false;
  bool entries_changed_target_ = false;
  bool restore_incomplete_ = false;
  bool rolled_back_interrupted_run_ = false;
};

#endif  // INSTALL_TRANSACTION_H_
