#include "install/recovery.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

#include "install/journal.h"
#include "install/journal_format.h"
#include "install/relative_path.h"
#include "install/rollback.h"
#include "install/target_lock.h"

namespace {

bool IsRegularFile(const NarrowString& path) {
  struct stat64 status;
  return lstat64(path.CStr(), &status) == 0 && S_ISREG(status.st_mode);
}

// Whether the tree at path (not followed) holds directories only.
bool HoldsOnlyDirectories(const NarrowString& path) {
  struct stat64 status;
  if (lstat64(path.CStr(), &status) != 0) return errno == ENOENT;
  if (!S_ISDIR(status.st_mode)) return false;
  DIR* stream = opendir(path.CStr());
  if (stream == nullptr) return false;
  bool only = true;
  for (;;) {
    errno = 0;
    const struct dirent64* entry = readdir64(stream);
    if (entry == nullptr) {
      only = only && errno == 0;
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (!HoldsOnlyDirectories(JoinPath(path, NarrowString(entry->d_name)))) {
      only = false;
      break;
    }
  }
  closedir(stream);
  return only;
}

// Whether the folder holds no more than a run leaves before its first change: a journal
// with no record (or not even its whole magic) and empty backup folders.
bool HoldsNothingOfARun(const NarrowString& folder) {
  DIR* stream = opendir(folder.CStr());
  if (stream == nullptr) return false;
  bool nothing = true;
  for (;;) {
    errno = 0;
    const struct dirent64* entry = readdir64(stream);
    if (entry == nullptr) {
      nothing = nothing && errno == 0;
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    const NarrowString path = JoinPath(folder, NarrowString(name));
    if (std::strcmp(name, kBackupFolderName) == 0 && HoldsOnlyDirectories(path)) continue;
    if (std::strcmp(name, kJournalFileName) == 0 && IsRegularFile(path)) {
      std::vector<JournalRecord> records;
      bool valid = false;
      if (ReadJournalFile(path, &records, &valid) == kSuccess && records.empty()) continue;
    }
    nothing = false;
    break;
  }
  closedir(stream);
  return nothing;
}

}  // namespace

RecoveryOutcome RecoverWorkFolder(const NarrowString& target, TempNames* names,
                                  int64_t* changes_left) {
  const NarrowString folder = WorkFolderPath(target);
  struct stat64 status;
  if (lstat64(folder.CStr(), &status) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? RecoveryOutcome::kNothingLeft
                                               : RecoveryOutcome::kKept;
  }
  if (!S_ISDIR(status.st_mode)) return RecoveryOutcome::kKept;

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
  struct stat64 status;
  // Most starts find no work folder: no lock is taken for them.
  if (lstat64(WorkFolderPath(target).CStr(), &status) != 0 && errno == ENOENT) {
    return RecoveryOutcome::kNothingLeft;
  }
  TargetLock lock;
  if (lock.Acquire(target, nullptr) != TargetLock::Outcome::kLocked) {
    return RecoveryOutcome::kNothingLeft;
  }
  TempNames names;
  return RecoverWorkFolder(target, &names);
}
