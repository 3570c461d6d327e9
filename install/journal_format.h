// The on-disk layout of an installation run's work folder and of its journal.
//
// While a run changes a template directory, it keeps a private, hidden work folder in that
// directory (so that it lies on the directory's own file system):
//
//   <template directory>/.t5stp/            made with mkdir(2), mode 0700, by the run itself
//   <template directory>/.t5stp/journal     what the run is about to do, appended before it
//                                           does it
//   <template directory>/.t5stp/backup/...  every file the run replaced, at its path relative
//                                           to the template directory: a second name made
//                                           with link(2) (rename(2) where the file system
//                                           has no hard links), so a backup needs no free
//                                           space; a copy only where the file's folder is on
//                                           another file system
//   <template directory>/.t5stp/committed   the journal, renamed once the run has succeeded:
//                                           from then on the run is finished, never undone
//
// The folder exists only while a run works (it is made on the run's first change and removed
// at its end) or after a run was killed, when the next run finds it and rolls it back. Its
// name starts with a dot, so file managers and the launcher, which take visible folders for
// templates, pass over it; a kit entry inside it is refused.
//
// New files are written under a temporary name in their own folder, "<kTempNamePrefix><run
// number>-<counter>", created exclusively, and renamed over their final name only when
// complete and stamped.
//
// Journal: kJournalMagic, then records, each
//   kind      1 byte (JournalKind)
//   length    4 bytes, little-endian: the number of payload bytes that follow
//   payload   length bytes, by kind (paths are bytes, relative to the template directory,
//             "/"-separated; the empty path is the template directory itself):
//     kMadeTarget      4 bytes LE: how many directories above the template directory the
//                      run made with it (the run made the template directory itself), then
//                      8 bytes LE seconds and 4 bytes LE nanoseconds: the modification time
//                      of the directory that holds the highest of them, before the run
//     kMadeDirectory   path of a directory the run is about to make
//     kNewFile         path where the run is about to put a file where nothing was
//     kTempFile        path of a temporary file the run is about to create
//     kBackedUp        path of a file the run is about to give a name in the backup folder
//                      (and then replace)
//     kDirectoryTime   8 bytes LE seconds (signed), 4 bytes LE nanoseconds, then the path
//                      of a directory that existed, with its modification time before the
//                      run's first change in it
//     kRetracted       1 byte: the kind of an earlier record, then its path: that record
//                      claimed something the run turned out not to make (another process
//                      made the name first), so it must not be undone
//     kOwner           the run that keeps the journal, always the first record: 4 bytes LE
//                      process id, 8 bytes LE its start time (clock ticks since boot, as
//                      /proc/<pid>/stat has it), 16 bytes: the run number of its temporary
//                      names, 1 byte: the length of the boot id, the boot id, then the host
//                      name
//     kMadeIdentity    1 byte: the kind of the thing made ('D' a folder, 'N' a file), 8 bytes
//                      LE device, 8 bytes LE inode, 8 bytes LE size, 8 bytes LE seconds
//                      (signed) and 4 bytes LE nanoseconds of its modification time, then the
//                      path: what the run made at that path, written before the file takes
//                      its final name
// A record is written before the change it describes; a record whose change never happened
// is harmless when rolled back (it names something that is not there). A journal cut short
// (the last record incomplete) is read up to its last whole record.
//
// What a record proves, and so what a rollback may do on its say-so:
//   - kTempFile: the name is this run's temporary file (its name carries the run number);
//     it is removed.
//   - kMadeIdentity: the name held, when the record was written, the very file or folder the
//     run made; a file is removed (or replaced by its original) only while the name still
//     holds that node, and a folder only once it is empty of everything else.
//   - kBackedUp: the original may sit in the backup folder; it is put back only where the
//     name is empty, holds the run's own file, or still holds the original itself. A
//     backup that no record explains is treated the same way: it is never deleted while
//     the name holds something else; it is then kept, and the user is told where.
//   - kMadeDirectory, kNewFile: intentions only; without a matching kMadeIdentity nothing
//     at the name is the run's, except a folder that is empty.
//
// States of a work folder (the pager-style table; "durable" means on the disk, not only in
// the kernel's cache, as a power cut needs it):
//
//   state       on disk                         entered by                   next start
//   none        no .t5stp                        -                            nothing to do
//   made        .t5stp, journal with magic and   Transaction::EnsureJournal   rolls back
//               kOwner (written, not synced)                                   (nothing yet)
//   journaled   records of changes, each         every change, through        rolls back what
//               written before its change;       Transaction::Guard          the records
//               those before a rename, link or                                prove
//               removal also synced
//   published   new files synced, then renamed   Transaction::PublishPending  rolls back
//               into place, each after its
//               kMadeIdentity record was synced
//   committed   journal renamed to "committed",  Transaction::Commit          removes the
//               after every new file and rename                               backups, keeps
//               is durable                                                    the new files
//   kept        anything a rollback could not    RollBackRecords              told to the
//               undo, or a folder that fails     (false), or recovery         user, left as
//               the trust checks                 refusing the folder          it is
//
// Invariants, asserted in debug builds: no change before its record is written (Guard); no
// rename, link or removal of a user's name before the records naming it are synced; no
// final name for a file whose data is not synced; the commit point only after PublishPending
// and a sync; nothing is removed from the work folder before the journal says committed or
// the rollback of every record succeeded.
#ifndef INSTALL_JOURNAL_FORMAT_H_
#define INSTALL_JOURNAL_FORMAT_H_

#include <cstddef>
#include <cstdint>

constexpr char kWorkFolderName[] = ".t5stp";
constexpr char kJournalFileName[] = "journal";
constexpr char kCommittedFileName[] = "committed";
constexpr char kBackupFolderName[] = "backup";
constexpr char kTempNamePrefix[] = ".t5new";

// 16 bytes, no terminator written.
constexpr char kJournalMagic[] = "t5stp journal 1\n";
constexpr std::size_t kJournalMagicBytes = sizeof(kJournalMagic) - 1;

enum class JournalKind : uint8_t {
  kMadeTarget = 'U',
  kMadeDirectory = 'D',
  kNewFile = 'N',
  kTempFile = 'T',
  kBackedUp = 'B',
  kDirectoryTime = 'M',
  kRetracted = 'X',
  kOwner = 'O',
  kMadeIdentity = 'I',
};

// kind and length.
constexpr std::size_t kJournalRecordHeaderBytes = 5;
// No path the system takes is longer; a longer length means a damaged record.
constexpr uint32_t kJournalMaxPayloadBytes = 1u << 20;

// The largest journal a start reads. A journal is a few dozen bytes per change (a replaced
// file costs three records), so this holds about 800,000 replaced files; a run that would
// write more fails before its change, and a larger file found on disk is no journal of
// ours: it is left alone and reported.
constexpr uint64_t kJournalMaxBytes = 128ull << 20;

// The most records a start reads from a journal (a record in memory takes far more than its
// few bytes on disk): about 700,000 replaced files. A run that would write more fails before
// that change, like one that would pass kJournalMaxBytes.
constexpr std::size_t kJournalMaxRecords = std::size_t{1} << 21;

// The length of a run number in temporary names.
constexpr std::size_t kRunNumberBytes = 16;

// Permission bits of the work folder and the journal: the user's own.
constexpr unsigned kWorkFolderMode = 0700;
constexpr unsigned kJournalFileMode = 0600;

#endif  // INSTALL_JOURNAL_FORMAT_H_
