#include "install/recovery.h"

#include <cstdio>
#include <vector>

#include "fs/directory_finder.h"
#include "fs/directory_listing.h"
#include "install/journal.h"
#include "install/journal_format.h"
#include "install/relative_path.h"
#include "install/rollback.h"
#include "install/target_lock.h"

namespace {

bool IsRegularFile(const NarrowString& path) {
  NodeKind kind = NodeKind::kNothing;
  return QueryNode(path.CStr(), &kind) == kSuccess && kind == NodeKind::kRegularFile;
}

// Whether the tree at path (not followed) holds directories only.
bool HoldsOnlyDirectories(const NarrowString& path) {
  NodeKind kind = NodeKind::kNothing;
  if (QueryNode(path.CStr(), &kind) != kSuccess) return false;
  if (kind == NodeKind::kNothing) return true;
  if (kind != NodeKind::kDirectory) return false;
  std::vector<NarrowString> names;
  if (ListDirectory(path, &names) != kSuccess) return false;
  for (const NarrowString& name : names) {
    if (!HoldsOnlyDirectories(JoinPath(path, name))) return false;
  }
  return true;
}

// Whether the folder holds no more than a run leaves before its first change: a journal
// with no record (or not even its whole magic) and empty backup folders. A file by the
// journal's name that is no journal is something else's, and stays.
bool HoldsNothingOfARun(const NarrowString& folder) {
  std::vector<NarrowString> names;
  if (ListDirectory(folder, &names) != kSuccess) return false;
  for (const NarrowString& name : names) {
    const NarrowString path = JoinPath(folder, name);
    if (name == NarrowString(kBackupFolderName) && HoldsOnlyDirectories(path)) continue;
    if (name == NarrowString(kJournalFileName) && IsRegularFile(path)) {
      std::vector<JournalRecord> records;
      bool valid = false;
      if (ReadJournalFile(path, &records, &valid) == kSuccess && valid && records.empty()) {
        continue;
      }
    }
    return false;
  }
  return true;
}

}  // namespace

RecoveryOutcome RecoverWorkFolder(const NarrowString& target, TempNames* names,
                                  int64_t* changes_left) {
  const NarrowString folder = WorkFolderPath(target);
  NodeKind kind = NodeKind::kNothing;
  if (QueryNode(folder.CStr(), &kind) != kSuccess) return RecoveryOutcome::kKept;
  if (IsAbsent(kind)) return RecoveryOutcome::kNothingLeft;
  if (kind != NodeKind::kDirectory) return RecoveryOutcome::kKept;

  if (IsRegularFile(JoinPath(folder, NarrowString(kCommittedFileName)))) {
    return RemoveWorkFolder(target, changes_left) == kSuccess ? RecoveryOutcome::kFinishedCommit
                                                              : RecoveryOutcome::kKept;
  }
  const NarrowString journal_path = JoinPath(folder, NarrowString(kJournalFileName));
  std::vector<JournalRecord> records;
  bool valid = false;
  if (IsRegularFile(journal_path) &&
      ReadJournalFile(journal_path, &records, &valid) == kSuccess && valid && !records.empty()) {
    JournalWriter journal;
    // Without a journal to append to, a move back across file systems is still made; it
    // only cannot name its temporary file for a roll-back that is itself killed.
    journal.OpenForAppend(journal_path);
    return RollBackRecords(target, records, &journal, names, changes_left)
               ? RecoveryOutcome::kRolledBack
               : RecoveryOutcome::kKept;
  }
  if (!HoldsNothingOfARun(folder)) return RecoveryOutcome::kKept;
  return RemoveWorkFolder(target, changes_left) == kSuccess ? RecoveryOutcome::kRolledBack
                                                            : RecoveryOutcome::kKept;
}

RecoveryOutcome RecoverTemplateDirectory(const NarrowString& target) {
  // Most starts find no work folder: no lock is taken for them.
  NodeKind kind = NodeKind::kNothing;
  if (QueryNode(WorkFolderPath(target).CStr(), &kind) == kSuccess && kind == NodeKind::kNothing) {
    return RecoveryOutcome::kNothingLeft;
  }
  TargetLock lock;
  if (lock.Acquire(target, nullptr) != TargetLock::Outcome::kLocked) {
    return RecoveryOutcome::kNothingLeft;
  }
  TempNames names;
  return RecoverWorkFolder(target, &names);
}

void ReportInterruptedInstallationRolledBack(const NarrowString& target) {
  std::fprintf(stderr, "setup: an interrupted installation into %s was rolled back\n",
               target.CStr());
}
