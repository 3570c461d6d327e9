// The journal of an installation run: what the run is about to change in the template
// directory, kept on disk (install/journal_format.h) so that a run killed half-way can be
// rolled back by the next one, and in memory so that a run that fails rolls back from the
// same records (install/rollback.h).
//
// JournalWriter appends records to the journal file. Records are collected with Add and
// written with Flush, in one write(2) for all records added since the last Flush: the run
// flushes right before the change the records describe, so the records of one change (its
// temporary file, its backup, the time of its folder) cost one system call together. That
// is what a killed process needs. A power cut also needs the records on the disk before a
// rename, link or removal they guard: Sync makes them durable, once for a whole batch of
// such changes (install/transaction.h).

#ifndef INSTALL_JOURNAL_H_
#define INSTALL_JOURNAL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fs/beneath.h"
#include "fs/error_codes.h"
#include "install/journal_format.h"
#include "text/narrow_string.h"

struct JournalRecord {
  JournalKind kind = JournalKind::kNewFile;
  // Relative to the template directory; empty for the directory itself.
  NarrowString path;
  // kDirectoryTime: the directory's modification time before the run changed it;
  // kMadeTarget: that of the directory that holds the highest level the run made.
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  // kMadeTarget: the directories above the template directory that the run made.
  uint32_t levels = 0;
  // kRetracted: the kind of the record it takes back (path is that record's path);
  // kMadeIdentity: the kind of what was made (kMadeDirectory or kNewFile).
  JournalKind retracted = JournalKind::kNewFile;
  // kMadeIdentity: what the run made at path. (A kOwner record keeps its payload in path:
  // see ReadRunOwner.)
  NodeIdentity identity;
};

// The run that keeps a journal: its first record (install/run_owner.h).
struct RunOwner {
  uint32_t pid = 0;
  uint64_t start_ticks = 0;
  NarrowString run_number;  // kRunNumberBytes bytes
  NarrowString boot_id;
  NarrowString host;
};

// The kOwner record of owner, and back; false when the record is no whole owner record.
JournalRecord RunOwnerRecord(const RunOwner& owner);
bool ReadRunOwner(const JournalRecord& record, RunOwner* owner);

// Appends the encoded record to out.
void EncodeJournalRecord(const JournalRecord& record, NarrowString* out);

// Reads the records of a journal's bytes into *records. False when the bytes do not start
// with the journal's magic, or (fewer bytes than it) are not the start of it; no record is
// read then. Reading stops at the first record that
// is cut short or damaged (an unknown kind, a length beyond the limit or the end, a payload
// too short for its kind); the records before it are kept.
// A journal of more than kJournalMaxRecords records is no journal of this program (false).
// whole_bytes, when given, receives the length of the magic and the whole records read.
bool DecodeJournal(const char* data, std::size_t size, std::vector<JournalRecord>* records,
                   std::size_t* whole_bytes = nullptr);

// Reads the journal open as descriptor, at most kJournalMaxBytes of it (the caller has
// checked its size). 0 with *valid telling whether it is a journal at all, or the code of a
// failed read (kErrorDiskFull when there is no memory for it). whole_bytes: as for
// DecodeJournal.
ErrorCode ReadJournal(int descriptor, std::vector<JournalRecord>* records, bool* valid,
                      std::size_t* whole_bytes = nullptr);

class JournalWriter {
 public:
  JournalWriter() = default;
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Creates a new journal as name in folder (exclusively, never through a link) and queues
  // the magic.
  ErrorCode Create(int folder, const char* name);
  // Opens the existing journal name in folder for appending (a roll-back that records
  // more), first cutting it to whole_bytes: a record cut short at its end would swallow the
  // records appended after it.
  ErrorCode OpenForAppend(int folder, const char* name, std::size_t whole_bytes);
  bool IsOpen() const { return descriptor_ >= 0; }

  // Queues the record; nothing is written yet.
  void Add(const JournalRecord& record);
  // Writes what is queued. On failure the queue is kept and the change it guards must not be
  // made. 0 when nothing is queued. A journal that would grow past kJournalMaxBytes is
  // kErrorDiskFull, and nothing is written.
  ErrorCode Flush();
  // Flushes, then makes everything written durable (fdatasync).
  ErrorCode Sync();
  // Whether every record added so far is durable.
  bool IsSynced() const { return queued_.Empty() && synced_ == written_; }
  void Close();

 private:
  int descriptor_ = -1;
  NarrowString queued_;
  uint64_t written_ = 0;
  uint64_t synced_ = 0;
  std::size_t records_ = 0;
};

#endif  // INSTALL_JOURNAL_H_
