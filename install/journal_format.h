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
// A record is written before the change it describes; a record whose change never happened
// is harmless when rolled back (it names something that is not there). A journal cut short
// (the last record incomplete) is read up to its last whole record.

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
};

// kind and length.
constexpr std::size_t kJournalRecordHeaderBytes = 5;
// No path the system takes is longer; a longer length means a damaged record.
constexpr uint32_t kJournalMaxPayloadBytes = 1u << 20;

// Permission bits of the work folder and the journal: the user's own.
constexpr unsigned kWorkFolderMode = 0700;
constexpr unsigned kJournalFileMode = 0600;

#endif  // INSTALL_JOURNAL_FORMAT_H_
