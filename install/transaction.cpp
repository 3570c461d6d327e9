#include "install/transaction.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/copy_file.h"
#include "fs/directory_finder.h"
#include "fs/file_layer.h"
#include "fs/make_directory.h"
#include "install/journal_format.h"
#include "install/recovery.h"
#include "install/relative_path.h"
#include "install/rollback.h"
#include "text/locale_conversions.h"

namespace {

constexpr mode_t kNewDirectoryMode = 0777;
constexpr mode_t kNewFileMode = 0660;
// A template directory that keeps disappearing while this run waits for its lock is given up
// after this many tries.
constexpr int kLockAttempts = 16;
// Names tried for one temporary file before the run gives up.
constexpr int kTempNameAttempts = 100;

JournalRecord PathRecord(JournalKind kind, const NarrowString& path) {
  JournalRecord record;
  record.kind = kind;
  record.path = path;
  return record;
}

}  // namespace

Transaction::Transaction(StopSignal* stop) : stop_(stop != nullptr ? stop : &never_stopped_) {}

Transaction::~Transaction() { End(); }

void Transaction::End() {
  journal_.Close();
  if (folder_descriptor_ >= 0) close(folder_descriptor_);
  folder_descriptor_ = -1;
  lock_.Release();
}

int Transaction::FolderDescriptor(const NarrowString& directory) {
  if (folder_descriptor_ >= 0 && folder_ == directory) return folder_descriptor_;
  if (folder_descriptor_ >= 0) close(folder_descriptor_);
  folder_ = directory;
  folder_descriptor_ =
      open(JoinPath(target_, directory).CStr(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return folder_descriptor_;
}

NarrowString Transaction::BackupFolder() const { return WorkFolderPath(target_); }

ErrorCode Transaction::BeginTransaction(const WideString& target) {
  if (!ToLocaleBytesExact(target, &target_)) return kErrorInvalidParameter;
  if (target_.Empty() || target_[0] != '/') return kErrorPathNotFound;
  if (target_[target_.Length() - 1] != '/') target_.Append("/");

  ErrorCode code = MakeTarget();
  if (code != kSuccess) return code;
  code = LockTarget();
  if (code != kSuccess) {
    // Without the lock the directory may already be another run's: nothing is undone.
    records_.clear();
    return code;
  }
  if (!made_target_) {
    const RecoveryOutcome outcome = RecoverWorkFolder(target_, &names_);
    if (outcome == RecoveryOutcome::kRolledBack) rolled_back_interrupted_run_ = true;
    if (outcome == RecoveryOutcome::kKept) {
      restore_incomplete_ = true;
      return kErrorInvalidParameter;
    }
    return kSuccess;
  }
  // A directory the run made is recorded at once: a run killed right after still leaves
  // nothing behind.
  code = EnsureJournal();
  if (code == kSuccess) code = journal_.Flush();
  return code;
}

ErrorCode Transaction::MakeTarget() {
  made_target_ = false;
  levels_above_target_ = 0;
  const NarrowString directory = WithoutTrailingSlashes(target_);
  // Anything at the name counts as there; a file in the way shows when it is locked.
  if (PathExists(directory.CStr())) return kSuccess;
  struct stat64 status = {};

  std::vector<NarrowString> missing(1, directory);
  NarrowString holder;
  while (ParentDirectory(missing.back(), &holder) && stat64(holder.CStr(), &status) != 0) {
    missing.push_back(holder);
  }
  holder_time_ = status.st_mtim;
  // Outermost first. A level someone else makes in between is not the run's: only the
  // levels below the last such one are.
  uint32_t made_in_a_row = 0;
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    if (mkdir(level->CStr(), kNewDirectoryMode) == 0) {
      ++made_in_a_row;
      if (level + 1 != missing.rend()) KeepUsableAsParent(AT_FDCWD, level->CStr());
      continue;
    }
    if (errno == EEXIST && stat64(level->CStr(), &status) == 0 && S_ISDIR(status.st_mode)) {
      made_in_a_row = 0;
      holder_time_ = status.st_mtim;
      continue;
    }
    // The levels made just before go again, the innermost first.
    for (auto made = level.base(); made_in_a_row > 0; ++made, --made_in_a_row) {
      rmdir(made->CStr());
    }
    return kErrorNotFound;
  }
  if (made_in_a_row == 0) return kSuccess;
  made_target_ = true;
  levels_above_target_ = made_in_a_row - 1;
  JournalRecord record;
  record.kind = JournalKind::kMadeTarget;
  record.levels = levels_above_target_;
  record.seconds = static_cast<int64_t>(holder_time_.tv_sec);
  record.nanoseconds = static_cast<uint32_t>(holder_time_.tv_nsec);
  AddRecord(record);
  return kSuccess;
}

ErrorCode Transaction::LockTarget() {
  const NarrowString directory = WithoutTrailingSlashes(target_);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    switch (lock_.Acquire(directory, stop_)) {
      case TargetLock::Outcome::kLocked:
        return kSuccess;
      case TargetLock::Outcome::kBusy:
      case TargetLock::Outcome::kStopped:
        return kErrorCancelled;
      case TargetLock::Outcome::kFailed:
        return lock_.Code();
      case TargetLock::Outcome::kGone: {
        // The run that held the lock removed the directory it had made; make it anew.
        records_.clear();
        const ErrorCode code = MakeTarget();
        if (code != kSuccess) return code;
        break;
      }
    }
  }
  return kErrorNotFound;
}

void Transaction::AddRecord(const JournalRecord& record) {
  records_.push_back(record);
  if (journal_.IsOpen()) journal_.Add(record);
}

void Transaction::AddPathRecord(JournalKind kind, const NarrowString& path) {
  AddRecord(PathRecord(kind, path));
}

ErrorCode Transaction::EnsureJournal() {
  if (journal_.IsOpen()) return kSuccess;
  const NarrowString folder = WorkFolderPath(target_);
  struct stat64 status;
  const bool have_time = !made_target_ && stat64(target_.CStr(), &status) == 0;
  if (mkdir(folder.CStr(), kWorkFolderMode) != 0) return ErrorCodeFromErrno(errno);
  const ErrorCode code = journal_.Create(JoinPath(folder, NarrowString(kJournalFileName)));
  if (code != kSuccess) {
    rmdir(folder.CStr());
    return code;
  }
  for (const JournalRecord& record : records_) journal_.Add(record);
  if (have_time) {
    // The work folder changed the template directory's time; it is the first to come back
    // last.
    JournalRecord record;
    record.kind = JournalKind::kDirectoryTime;
    record.seconds = static_cast<int64_t>(status.st_mtim.tv_sec);
    record.nanoseconds = static_cast<uint32_t>(status.st_mtim.tv_nsec);
    AddRecord(record);
    changed_directories_.insert(NarrowString());
  }
  return kSuccess;
}

ErrorCode Transaction::Retract(JournalKind kind, const NarrowString& path) {
  JournalRecord record = PathRecord(JournalKind::kRetracted, path);
  record.retracted = kind;
  AddRecord(record);
  return journal_.Flush();
}

void Transaction::NoteDirectoryChange(const NarrowString& directory) {
  if (directory.Empty()) entries_changed_target_ = true;
  if (IsRunsOwnDirectory(directory) || changed_directories_.count(directory) != 0) return;
  struct stat64 status;
  // The directory the entries live in, also when it is reached through a link.
  if (stat64(JoinPath(target_, directory).CStr(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return;
  }
  changed_directories_.insert(directory);
  JournalRecord record = PathRecord(JournalKind::kDirectoryTime, directory);
  record.seconds = static_cast<int64_t>(status.st_mtim.tv_sec);
  record.nanoseconds = static_cast<uint32_t>(status.st_mtim.tv_nsec);
  AddRecord(record);
}

bool Transaction::IsRunsOwnDirectory(const NarrowString& directory) const {
  if (made_target_) return true;
  return !directory.Empty() && created_lookup_.count(directory) != 0;
}

ErrorCode Transaction::CreateDirectoryRecorded(const NarrowString& directory) {
  if (directory.Empty()) return kSuccess;
  if (created_lookup_.count(directory) != 0 || existing_lookup_.count(directory) != 0) {
    return kSuccess;
  }
  if (PathExists(JoinPath(target_, directory).CStr())) {
    existing_lookup_.insert(directory);
    return kSuccess;
  }
  // The levels to make, innermost first, and the directory that holds the highest of them.
  std::vector<NarrowString> missing(1, directory);
  NarrowString holder = RelativeParent(directory);
  while (!holder.Empty() && created_lookup_.count(holder) == 0 &&
         existing_lookup_.count(holder) == 0 &&
         !PathExists(JoinPath(target_, holder).CStr())) {
    missing.push_back(holder);
    holder = RelativeParent(holder);
  }
  const bool own = IsRunsOwnDirectory(holder);
  if (!own) {
    ErrorCode code = EnsureJournal();
    if (code != kSuccess) return code;
    NoteDirectoryChange(holder);
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
      AddPathRecord(JournalKind::kMadeDirectory, *level);
    }
    code = journal_.Flush();
    if (code != kSuccess) return code;
  }
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    const NarrowString path = JoinPath(target_, *level);
    if (mkdir(path.CStr(), kNewDirectoryMode) == 0) {
      if (level + 1 != missing.rend()) KeepUsableAsParent(AT_FDCWD, path.CStr());
      created_lookup_.insert(*level);
      created_directories_.push_back(*level);
      continue;
    }
    if (errno == EEXIST) {
      // Someone else made it in between: it is not the run's to remove.
      if (!own) {
        const ErrorCode code = Retract(JournalKind::kMadeDirectory, *level);
        if (code != kSuccess) return code;
      }
      existing_lookup_.insert(*level);
      continue;
    }
    return kErrorNotFound;
  }
  return kSuccess;
}

ErrorCode Transaction::BeginFile(const NarrowString& relative, bool replaces,
                                 PendingFile* file) {
  const NarrowString directory = RelativeParent(relative);
  const bool own = IsRunsOwnDirectory(directory);
  file->relative = relative;
  file->replaces = replaces;
  file->descriptor = -1;
  file->created = false;
  file->temp_relative = names_.Next(directory);
  if (!own) {
    ErrorCode code = EnsureJournal();
    if (code != kSuccess) return code;
    NoteDirectoryChange(directory);
    AddPathRecord(JournalKind::kTempFile, file->temp_relative);
    if (!replaces) {
      AddPathRecord(JournalKind::kNewFile, relative);
    } else if (own_files_.count(relative) == 0) {
      AddPathRecord(JournalKind::kBackedUp, relative);
    }
    code = journal_.Flush();
    if (code != kSuccess) return code;
  }
  const int folder = FolderDescriptor(directory);
  if (folder < 0) return ErrorCodeFromErrno(errno);
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    file->descriptor = openat(folder, NameOf(file->temp_relative),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
    if (file->descriptor >= 0) {
      file->created = true;
      return kSuccess;
    }
    if (errno != EEXIST) return ErrorCodeFromErrno(errno);
    if (!own) {
      ErrorCode code = Retract(JournalKind::kTempFile, file->temp_relative);
      file->temp_relative = names_.Next(directory);
      AddPathRecord(JournalKind::kTempFile, file->temp_relative);
      if (code == kSuccess) code = journal_.Flush();
      if (code != kSuccess) return code;
    } else {
      file->temp_relative = names_.Next(directory);
    }
  }
  return kErrorCannotWrite;
}

void Transaction::AbandonFile(PendingFile* file) {
  if (file->descriptor >= 0) close(file->descriptor);
  file->descriptor = -1;
  if (!file->created) return;
  file->created = false;
  const int folder = FolderDescriptor(RelativeParent(file->relative));
  if (folder >= 0) {
    unlinkat(folder, NameOf(file->temp_relative), 0);
  } else {
    unlink(JoinPath(target_, file->temp_relative).CStr());
  }
}

ErrorCode Transaction::FinishFile(PendingFile* file) {
  const NarrowString directory = RelativeParent(file->relative);
  const bool own = IsRunsOwnDirectory(directory);
  if (file->replaces && !own && own_files_.count(file->relative) == 0) {
    const ErrorCode code = BackUpFile(file->relative);
    if (code != kSuccess) {
      AbandonFile(file);
      return code;
    }
  }
  const int folder = FolderDescriptor(directory);
  if (folder < 0 ||
      renameat(folder, NameOf(file->temp_relative), folder, NameOf(file->relative)) != 0) {
    const ErrorCode code = ErrorCodeFromErrno(errno);
    AbandonFile(file);
    return code;
  }
  file->created = false;
  if (!own) own_files_.insert(file->relative);
  return kSuccess;
}

ErrorCode Transaction::EnsureBackupDirectory(const NarrowString& relative_directory) {
  NarrowString level(kBackupFolderName);
  NarrowString rest = relative_directory;
  for (;;) {
    if (backup_directories_made_.count(level) == 0) {
      const NarrowString path = JoinPath(WorkFolderPath(target_), level);
      NodeKind kind = NodeKind::kNothing;
      if (mkdir(path.CStr(), kWorkFolderMode) != 0 &&
          !(errno == EEXIST && QueryNode(path.CStr(), &kind) == kSuccess &&
            kind == NodeKind::kDirectory)) {
        return kErrorNotFound;
      }
      backup_directories_made_.insert(level);
    }
    if (rest.Empty()) return kSuccess;
    const NarrowString::size_type slash = rest.Find("/");
    const NarrowString name =
        slash == NarrowString::npos ? rest : NarrowString(rest, 0, slash);
    rest = slash == NarrowString::npos ? NarrowString() : NarrowString(rest, slash + 1);
    if (!name.Empty()) level = JoinPath(level, name);
  }
}

ErrorCode Transaction::BackUpFile(const NarrowString& relative) {
  const NarrowString path = JoinPath(target_, relative);
  const NarrowString backup = BackupPath(target_, relative);
  NodeKind kind = NodeKind::kNothing;
  ErrorCode code = QueryNode(path.CStr(), &kind);
  if (code != kSuccess || kind == NodeKind::kNothing) return code;
  // A directory where the kit has a file is neither moved away nor replaced; a folder on the
  // way that is no folder any more fails the run as well.
  if (kind == NodeKind::kDirectory || kind == NodeKind::kPathBlocked) return kErrorInvalidParameter;
  // Only this run fills its backup folder: an original held already is the true one.
  if (QueryNode(backup.CStr(), &kind) == kSuccess && !IsAbsent(kind)) return kSuccess;
  code = EnsureBackupDirectory(RelativeParent(relative));
  if (code != kSuccess) return code;
  // A second name for the very file: the original stays at its name until the new file is
  // renamed over it, so the name is never empty, not even for a moment. Where the file
  // system has no hard links, the file itself is moved.
  if (linkat(AT_FDCWD, path.CStr(), AT_FDCWD, backup.CStr(), 0) == 0 ||
      ((errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) &&
       rename(path.CStr(), backup.CStr()) == 0)) {
    holds_originals_ = true;
    return kSuccess;
  }
  const int failure = errno;
  // The original went away since it was looked at: there is nothing to keep. Any other
  // ENOENT (the backup folder gone) is a failure like the rest.
  if (failure == ENOENT && QueryNode(path.CStr(), &kind) == kSuccess &&
      kind == NodeKind::kNothing) {
    return kSuccess;
  }
  if (failure != EXDEV) return ErrorCodeFromErrno(failure);
  // The file's folder is a mount of its own: a whole copy is made under a temporary name of
  // the backup folder, which only then takes the backup's name. The file itself stays until
  // the new one replaces it.
  const NarrowString copy = BackupPath(target_, names_.Next(RelativeParent(relative)));
  code = CopyFileExclusively(path, copy);
  if (code != kSuccess) return code;
  if (rename(copy.CStr(), backup.CStr()) != 0) {
    code = ErrorCodeFromErrno(errno);
    unlink(copy.CStr());
    return code;
  }
  holds_originals_ = true;
  return kSuccess;
}

ErrorCode Transaction::Commit() {
  if (!journal_.IsOpen()) {
    End();
    return kSuccess;
  }
  // The originals go only once the new files are on disk: a power loss must not take both.
  // A failed sync leaves the run undoable: Rollback still has every original.
  if (holds_originals_ && syncfs(lock_.Descriptor()) != 0) return ErrorCodeFromErrno(errno);
  journal_.Close();
  const NarrowString folder = WorkFolderPath(target_);
  // The commit point: from here on, the run is finished, never rolled back.
  if (rename(JoinPath(folder, NarrowString(kJournalFileName)).CStr(),
             JoinPath(folder, NarrowString(kCommittedFileName)).CStr()) != 0) {
    return ErrorCodeFromErrno(errno);
  }
  // What cannot be removed now is removed by the next run.
  RemoveWorkFolder(target_);
  if (!made_target_ && !entries_changed_target_) {
    for (const JournalRecord& record : records_) {
      if (record.kind != JournalKind::kDirectoryTime || !record.path.Empty()) continue;
      PutBackModificationTime(target_, record.seconds, record.nanoseconds);
      break;
    }
  }
  End();
  return kSuccess;
}

void Transaction::Rollback() {
  if (!records_.empty()) {
    restore_incomplete_ = !RollBackRecords(target_, records_, &journal_, &names_);
  }
  End();
}
