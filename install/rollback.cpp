#include "install/rollback.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <utility>

#include "fs/copy_file.h"
#include "fs/directory_finder.h"
#include "fs/directory_listing.h"
#include "fs/file_layer.h"
#include "fs/remove_tree.h"
#include "install/journal_format.h"
#include "install/relative_path.h"

namespace {

using RecordKey = std::pair<JournalKind, NarrowString>;

// Takes one change from the budget; false when none is left.
bool MayChange(int64_t* changes_left) {
  if (changes_left == nullptr) return true;
  if (*changes_left <= 0) return false;
  --*changes_left;
  return true;
}

// Removes the file the run made at path; a directory there is not the run's file and stays.
bool RemoveRunsFile(const NarrowString& path) {
  if (unlink(path.CStr()) == 0 || errno == ENOENT || errno == ENOTDIR) return true;
  return errno == EISDIR;
}

// Moves the original of relative back from the backup folder. True when it is back or was
// never moved away.
bool RestoreOriginal(const NarrowString& target, const NarrowString& relative,
                     JournalWriter* journal, TempNames* names) {
  const NarrowString backup = BackupPath(target, relative);
  const NarrowString path = JoinPath(target, relative);
  NodeKind kind = NodeKind::kNothing;
  if (QueryNode(backup.CStr(), &kind) != kSuccess) return false;
  if (IsAbsent(kind)) return true;
  if (kind == NodeKind::kDirectory) return false;
  if (rename(backup.CStr(), path.CStr()) == 0) return true;
  if (errno != EXDEV) return false;
  // The original's folder is on a file system of its own: copy it to a temporary name
  // there, recorded first, and rename that over the name.
  const NarrowString temp_relative = names->Next(RelativeParent(relative));
  if (journal != nullptr && journal->IsOpen()) {
    JournalRecord record;
    record.kind = JournalKind::kTempFile;
    record.path = temp_relative;
    journal->Add(record);
    if (journal->Flush() != kSuccess) return false;
  }
  const NarrowString temp = JoinPath(target, temp_relative);
  if (CopyFileExclusively(backup, temp) != kSuccess) return false;
  if (rename(temp.CStr(), path.CStr()) != 0) {
    unlink(temp.CStr());
    return false;
  }
  unlink(backup.CStr());
  return true;
}

// Removes every entry of the template directory the run made, but its work folder.
bool EmptyMadeTarget(const NarrowString& target) {
  DirectoryListing listing;
  const ErrorCode opened = listing.Open(target, Links::kFollowed);
  if (opened != kSuccess) return opened == kErrorNotFound;
  std::vector<NarrowString> names;
  // What was listed goes even when the listing was cut short, but then the target is not
  // known to be empty.
  bool removed = listing.ReadAll(&names) == kSuccess;
  listing.Close();
  for (const NarrowString& name : names) {
    if (name == NarrowString(kWorkFolderName)) continue;
    if (RemoveTree(JoinPath(target, name)) != kSuccess) removed = false;
  }
  return removed;
}

// Removes the template directory the run made and the directories it made above it (each
// only while it is empty), then gives the directory that holds them its time back.
void RemoveMadeLevels(const NarrowString& target, const JournalRecord& made) {
  NarrowString level = WithoutTrailingSlashes(target);
  for (uint32_t i = 0; i <= made.levels; ++i) {
    if (rmdir(level.CStr()) != 0 || !ParentDirectory(level, &level)) return;
  }
  PutBackModificationTime(level, made.seconds, made.nanoseconds);
}

}  // namespace

ErrorCode RemoveWorkFolder(const NarrowString& target, int64_t* changes_left) {
  const NarrowString folder = WorkFolderPath(target);
  if (!MayChange(changes_left)) return kErrorCancelled;
  // Nothing that says what to do with the backups goes before they are gone: a removal that
  // fails or is cut short is finished by the next run, which still finds what the journal
  // (or the committed marker) says.
  const ErrorCode code = RemoveTree(JoinPath(folder, NarrowString(kBackupFolderName)));
  if (code != kSuccess) return code;
  for (const char* name : {kCommittedFileName, kJournalFileName}) {
    if (!MayChange(changes_left)) return kErrorCancelled;
    const NarrowString file = JoinPath(folder, NarrowString(name));
    if (unlink(file.CStr()) != 0 && errno != ENOENT) return ErrorCodeFromErrno(errno);
  }
  // The journal goes with the folder in one step.
  if (rmdir(folder.CStr()) != 0 && errno != ENOENT) return ErrorCodeFromErrno(errno);
  return kSuccess;
}

bool RollBackRecords(const NarrowString& target, const std::vector<JournalRecord>& records,
                     JournalWriter* journal, TempNames* names, int64_t* changes_left) {
  std::set<RecordKey> retracted;
  bool made_target = false;
  JournalRecord made;
  for (const JournalRecord& record : records) {
    if (record.kind == JournalKind::kRetracted) retracted.insert({record.retracted, record.path});
    if (record.kind == JournalKind::kMadeTarget) {
      made_target = true;
      made = record;
    }
  }
  auto live = [&](const JournalRecord& record, JournalKind kind) {
    return record.kind == kind && !record.path.Empty() &&
           IsContainedRelativePath(record.path) && retracted.count({kind, record.path}) == 0;
  };

  bool complete = true;
  for (const JournalRecord& record : records) {
    if (live(record, JournalKind::kTempFile) || live(record, JournalKind::kNewFile)) {
      if (!MayChange(changes_left)) return false;
      if (!RemoveRunsFile(JoinPath(target, record.path))) complete = false;
    }
  }
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (!live(*record, JournalKind::kMadeDirectory)) continue;
    if (!MayChange(changes_left)) return false;
    if (RemoveTree(JoinPath(target, record->path)) != kSuccess) complete = false;
  }
  if (made_target) {
    if (!MayChange(changes_left)) return false;
    if (!EmptyMadeTarget(target)) complete = false;
  }

  std::set<NarrowString> restored;
  for (const JournalRecord& record : records) {
    if (!live(record, JournalKind::kBackedUp) || !restored.insert(record.path).second) continue;
    if (!MayChange(changes_left)) return false;
    if (!RestoreOriginal(target, record.path, journal, names)) complete = false;
  }

  // The times go back while the journal still names them; the one the removal of the work
  // folder changes again is put back once more after it.
  const JournalRecord* target_time = nullptr;
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (record->kind != JournalKind::kDirectoryTime || !IsContainedRelativePath(record->path)) {
      continue;
    }
    if (record->path.Empty()) target_time = &*record;
    if (!MayChange(changes_left)) return false;
    PutBackModificationTime(JoinPath(target, record->path), record->seconds, record->nanoseconds);
  }
  if (!complete) return false;
  if (journal != nullptr) journal->Close();
  if (RemoveWorkFolder(target, changes_left) != kSuccess) return false;
  if (target_time != nullptr) {
    PutBackModificationTime(target, target_time->seconds, target_time->nanoseconds);
  }
  if (made_target) RemoveMadeLevels(target, made);
  return true;
}

void PutBackModificationTime(const NarrowString& path, int64_t seconds, uint32_t nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(nanoseconds);
  utimensat(AT_FDCWD, path.CStr(), times, 0);
}
