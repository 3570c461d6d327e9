#include "install/transaction.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cassert>
#include <system_error>
#include <thread>
#include <cstdio>

#include "fs/beneath.h"
#include "fs/copy_file.h"
#include "fs/exclusive_file.h"
#include "fs/replace_file.h"
#include "fs/system_error.h"
#include "fs/make_directory.h"
#include "install/journal_format.h"
#include "install/recovery.h"
#include "install/relative_path.h"
#include "install/rollback.h"
#include "install/run_owner.h"
#include "text/path_slashes.h"

namespace {

constexpr mode_t kNewDirectoryMode = 0777;
constexpr mode_t kNewFileMode = 0660;
// A template directory that keeps disappearing while this run waits for its lock is given up
// after this many tries.
constexpr int kLockAttempts = 16;

JournalRecord PathRecord(JournalKind kind, const NarrowString& path) {
  JournalRecord record;
  record.kind = kind;
  record.path = path;
  return record;
}

JournalRecord IdentityRecord(JournalKind made, const NarrowString& path,
                             const NodeIdentity& identity) {
  JournalRecord record = PathRecord(JournalKind::kMadeIdentity, path);
  record.retracted = made;
  record.identity = identity;
  return record;
}

}  // namespace

Transaction::Transaction(StopSignal* stop) : stop_(stop != nullptr ? stop : &never_stopped_) {}

Transaction::~Transaction() { End(); }

void Transaction::End() {
  for (PendingFile& file : pending_) AbandonFile(&file);
  pending_.clear();
  journal_.Close();
  if (folder_descriptor_ >= 0) close(folder_descriptor_);
  folder_descriptor_ = -1;
  for (const auto& device : written_devices_) close(device.second);
  written_devices_.clear();
  if (work_ >= 0) close(work_);
  work_ = -1;
  lock_.Release();
  if (root_ >= 0) close(root_);
  root_ = -1;
  if (state_ == State::kBegun) state_ = State::kEnded;
}

int Transaction::FolderDescriptor(const NarrowString& directory) {
  if (folder_descriptor_ >= 0 && folder_ == directory) return folder_descriptor_;
  if (folder_descriptor_ >= 0) close(folder_descriptor_);
  folder_ = directory;
  folder_descriptor_ = OpenFolderBeneath(root_, directory, O_PATH);
  return folder_descriptor_;
}

NarrowString Transaction::BackupFolder() const { return WorkFolderPath(target_); }

ErrorCode Transaction::BeginTransaction(const WideString& target) {
  return BeginTransaction(TargetDirectory(target));
}

ErrorCode Transaction::BeginTransaction(const TargetDirectory& target) {
  assert(state_ == State::kIdle);
  if (target.Problem() != kSuccess) return target.Problem();
  target_ = target.Bytes();

  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    records_.clear();
    ErrorCode code = MakeTarget();
    if (code != kSuccess) return code;
    code = OpenAndLockTarget();
    if (code == kErrorNotFound) continue;  // gone while this run waited: make it again
    if (code != kSuccess) {
      // Without the lock the directory may already be another run's: nothing is undone.
      records_.clear();
      End();
      return code;
    }
    state_ = State::kBegun;
    if (made_target_) {
      // A directory the run made is recorded at once: a run killed right after still leaves
      // nothing behind.
      code = EnsureJournal();
      if (code == kSuccess) code = Guard(false);
      return code;
    }
    code = RecoverLeftWorkFolder();
    if (code != kSuccess) return code;
    // A killed run that had made the directory took it with it: this run makes it anew.
    struct stat64 status;
    if (fstat64(root_, &status) == 0 && status.st_nlink > 0 && TargetStillNamed()) {
      return kSuccess;
    }
    End();
    state_ = State::kIdle;
  }
  return kErrorNotFound;
}

ErrorCode Transaction::RecoverLeftWorkFolder() {
  RecoveryDetail detail;
  const RecoveryOutcome outcome =
      RecoverWorkFolder(root_, target_, lock_.Held(), &names_, &detail);
  switch (outcome) {
    case RecoveryOutcome::kNothingLeft:
    case RecoveryOutcome::kTidiedUp:
      return kSuccess;
    case RecoveryOutcome::kRolledBack:
      rolled_back_interrupted_run_ = true;
      return kSuccess;
    case RecoveryOutcome::kKept:
      restore_incomplete_ = true;
      refusal_ = WorkFolderRefusal::kKept;
      break;
    case RecoveryOutcome::kUntrusted:
      refusal_ = WorkFolderRefusal::kUntrusted;
      break;
    case RecoveryOutcome::kBusy:
      refusal_ = WorkFolderRefusal::kBusy;
      break;
  }
  refusal_reason_ = detail.reason;
  return kErrorInvalidParameter;
}

ErrorCode Transaction::MakeTarget() {
  made_target_ = false;
  levels_above_target_ = 0;
  const NarrowString directory = WithoutTrailingSlashes(target_);
  // Anything at the name counts as there; what it is shows when it is opened.
  struct stat64 status = {};
  if (lstat64(directory.CStr(), &status) == 0) return kSuccess;

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

ErrorCode Transaction::OpenAndLockTarget() {
  const NarrowString directory = WithoutTrailingSlashes(target_);
  root_ = OpenRootDirectory(directory.CStr());
  if (root_ < 0) {
    // A link at the template directory's own name is not followed.
    if (errno == ELOOP || errno == ENOTDIR) return kErrorInvalidParameter;
    return errno == ENOENT ? kErrorNotFound : ErrorCodeFromErrno(errno);
  }
  if (!IdentityOf(root_, &root_identity_)) return ErrorCodeFromErrno(errno);
  auto tell = [this]() {
    uint32_t pid = 0;
    if (!ReadWorkFolderOwnerPid(root_, &pid)) pid = LockHolderPid(root_);
    char text[64] = "";
    if (pid != 0) std::snprintf(text, sizeof text, " (pid %u)", pid);
    NarrowString line("setup: waiting for another installation into ");
    line.Append(target_);
    line.Append(text);
    if (wait_observer_) wait_observer_(line);
  };
  switch (lock_.Acquire(root_, directory, stop_, tell)) {
    case TargetLock::Outcome::kLocked:
      return kSuccess;
    case TargetLock::Outcome::kBusy:
    case TargetLock::Outcome::kStopped:
      return kErrorCancelled;
    case TargetLock::Outcome::kFailed:
      return lock_.Code();
    case TargetLock::Outcome::kGone:
      close(root_);
      root_ = -1;
      return kErrorNotFound;
  }
  return kErrorInvalidParameter;
}

bool Transaction::TargetStillNamed() const {
  NodeIdentity named;
  return IdentityAt(AT_FDCWD, WithoutTrailingSlashes(target_).CStr(), &named) &&
         named.SameNode(root_identity_);
}

void Transaction::AddRecord(const JournalRecord& record) {
  records_.push_back(record);
  if (journal_.IsOpen()) journal_.Add(record);
}

void Transaction::AddPathRecord(JournalKind kind, const NarrowString& path) {
  AddRecord(PathRecord(kind, path));
}

ErrorCode Transaction::Guard(bool durable) {
  return durable ? journal_.Sync() : journal_.Flush();
}

ErrorCode Transaction::EnsureJournal() {
  if (journal_.IsOpen()) return kSuccess;
  struct stat64 status;
  const bool have_time = !made_target_ && fstat64(root_, &status) == 0;
  if (mkdirat(root_, kWorkFolderName, kWorkFolderMode) != 0) return ErrorCodeFromErrno(errno);
  work_ = openat(root_, kWorkFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (work_ < 0) return ErrorCodeFromErrno(errno);
  const ErrorCode code = journal_.Create(work_, kJournalFileName);
  if (code != kSuccess) {
    close(work_);
    work_ = -1;
    unlinkat(root_, kWorkFolderName, AT_REMOVEDIR);
    return code;
  }
  // Who keeps the folder comes first: another run reads it before anything else.
  journal_.Add(RunOwnerRecord(CurrentRunOwner(names_.RunNumber())));
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
  return Guard(false);
}

void Transaction::NoteDirectoryChange(const NarrowString& directory) {
  if (directory.Empty()) entries_changed_target_ = true;
  if (IsRunsOwnDirectory(directory) || changed_directories_.count(directory) != 0) return;
  struct stat64 status;
  const int folder = directory.Empty() ? root_ : FolderDescriptor(directory);
  if (folder < 0 || fstat64(folder, &status) != 0 || !S_ISDIR(status.st_mode)) return;
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
  assert(state_ == State::kBegun);
  if (directory.Empty()) return kSuccess;
  if (created_lookup_.count(directory) != 0 || existing_lookup_.count(directory) != 0) {
    return kSuccess;
  }
  // Anything at a level's name (not followed) counts as there: what it is shows when the
  // folder is opened. A level below something that is no folder is missing, and making it
  // fails.
  auto exists = [this](const NarrowString& level) {
    const char* name = nullptr;
    const int parent = OpenParentBeneath(root_, level, &name);
    if (parent < 0) return false;
    NodeIdentity identity;
    const bool found = IdentityAt(parent, name, &identity);
    close(parent);
    return found;
  };
  if (exists(directory)) {
    existing_lookup_.insert(directory);
    return kSuccess;
  }
  // The levels to make, innermost first, and the directory that holds the highest of them.
  std::vector<NarrowString> missing(1, directory);
  NarrowString holder = RelativeParent(directory);
  while (!holder.Empty() && created_lookup_.count(holder) == 0 &&
         existing_lookup_.count(holder) == 0 && !exists(holder)) {
    missing.push_back(holder);
    holder = RelativeParent(holder);
  }
  const bool own = IsRunsOwnDirectory(holder);
  ErrorCode code = EnsureJournal();
  if (code != kSuccess) return code;
  if (!own) NoteDirectoryChange(holder);
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    AddPathRecord(JournalKind::kMadeDirectory, *level);
  }
  code = Guard(false);
  if (code != kSuccess) return code;
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    const char* name = nullptr;
    const int parent = OpenParentBeneath(root_, *level, &name);
    if (parent < 0) return kErrorNotFound;
    if (mkdirat(parent, name, kNewDirectoryMode) == 0) {
      NodeIdentity identity;
      if (level + 1 != missing.rend()) KeepUsableAsParent(parent, name);
      if (IdentityAt(parent, name, &identity)) {
        AddRecord(IdentityRecord(JournalKind::kMadeDirectory, *level, identity));
      }
      close(parent);
      created_lookup_.insert(*level);
      created_directories_.push_back(*level);
      continue;
    }
    const int error = errno;
    close(parent);
    if (error == EEXIST) {
      // Someone else made it in between: it is not the run's to remove.
      code = Retract(JournalKind::kMadeDirectory, *level);
      if (code != kSuccess) return code;
      existing_lookup_.insert(*level);
      continue;
    }
    return kErrorNotFound;
  }
  return kSuccess;
}

ErrorCode Transaction::BeginFile(const NarrowString& relative, bool replaces,
                                 PendingFile* file) {
  assert(state_ == State::kBegun);
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
    code = Guard(false);
    if (code != kSuccess) return code;
  }
  const int folder = FolderDescriptor(directory);
  if (folder < 0) return ErrorCodeFromErrno(errno);
  // A name found taken is retracted from the journal before the next one is recorded.
  ErrorCode record_code = kSuccess;
  NarrowString created_name;
  file->descriptor = CreateExclusiveFile(
      folder,
      [&](int attempt, NarrowString* proposal) {
        if (attempt > 0) {
          if (!own) {
            record_code = Retract(JournalKind::kTempFile, file->temp_relative);
            file->temp_relative = names_.Next(directory);
            AddPathRecord(JournalKind::kTempFile, file->temp_relative);
            if (record_code == kSuccess) record_code = Guard(false);
            if (record_code != kSuccess) return false;
          } else {
            file->temp_relative = names_.Next(directory);
          }
        }
        *proposal = NarrowString(NameOf(file->temp_relative));
        return true;
      },
      O_WRONLY, kNewFileMode, &created_name);
  if (file->descriptor < 0) {
    if (record_code != kSuccess) return record_code;
    return errno == EEXIST ? kErrorCannotWrite : ErrorCodeFromErrno(errno);
  }
  file->created = true;
  if (!IdentityOf(file->descriptor, &file->identity)) {
    const int error = errno;
    AbandonFile(file);
    return ErrorCodeFromErrno(error);
  }
  // The file system is synced before the file takes its name.
  if (written_devices_.count(file->identity.device) == 0) {
    const int sync_folder = OpenFolderBeneath(root_, directory, 0);
    if (sync_folder >= 0) written_devices_[file->identity.device] = sync_folder;
  }
  return kSuccess;
}

void Transaction::AbandonFile(PendingFile* file) {
  if (file->descriptor >= 0) close(file->descriptor);
  file->descriptor = -1;
  if (!file->created) return;
  file->created = false;
  if (root_ < 0) return;
  // The run's own temporary file, looked up in its folder without following a link.
  const int folder = FolderDescriptor(RelativeParent(file->relative));
  if (folder >= 0) unlinkat(folder, NameOf(file->temp_relative), 0);
}

ErrorCode Transaction::CompleteFile(PendingFile* file) {
  assert(state_ == State::kBegun && file->descriptor < 0 && file->created);
  // The file as written and stamped.
  const int folder = FolderDescriptor(RelativeParent(file->relative));
  if (folder < 0 || !IdentityAt(folder, NameOf(file->temp_relative), &file->identity)) {
    const int error = errno;
    AbandonFile(file);
    return ErrorCodeFromErrno(error);
  }
  AdoptFile(file);
  return kSuccess;
}

int Transaction::OpenOwnFolder(const NarrowString& directory) {
  assert(state_ == State::kBegun && IsRunsOwnDirectory(directory));
  const int folder = OpenFolderBeneath(root_, directory, O_PATH);
  if (folder < 0) return -1;
  NodeIdentity identity;
  if (!IdentityOf(folder, &identity)) {
    const int error = errno;
    close(folder);
    errno = error;
    return -1;
  }
  // A folder the run made lies on the file system of the folder that holds it, which may be
  // a mount inside the template directory: its files are synced before they take names.
  if (written_devices_.count(identity.device) == 0) {
    const int sync_folder = OpenFolderBeneath(root_, directory, 0);
    if (sync_folder >= 0) written_devices_[identity.device] = sync_folder;
  }
  return folder;
}

void Transaction::PrepareOwnFile(const NarrowString& relative, PendingFile* file) {
  assert(state_ == State::kBegun && IsRunsOwnDirectory(RelativeParent(relative)));
  file->relative = relative;
  file->replaces = false;
  file->descriptor = -1;
  file->created = false;
  file->temp_relative = names_.Next(RelativeParent(relative));
}

ErrorCode Transaction::CloseTempFile(int* descriptor) {
  const int closed = close(*descriptor);
  *descriptor = -1;
  return closed == 0 ? kSuccess : ErrorCodeFromErrno(errno);
}

int Transaction::CreateTempFile(int folder, const PendingFile& file) {
  // One name only: a taken one is left to BeginFile, which records the next.
  NarrowString created;
  return CreateExclusiveFile(
      folder,
      [&file](int attempt, NarrowString* proposal) {
        if (attempt > 0) {
          errno = EEXIST;
          return false;
        }
        *proposal = NarrowString(NameOf(file.temp_relative));
        return true;
      },
      O_WRONLY, kNewFileMode, &created);
}

void Transaction::AdoptFile(PendingFile* file) {
  assert(state_ == State::kBegun && file->descriptor < 0 && file->created);
  // Its identity is what lets a rollback tell the run's file from one put there since. In
  // memory the identity alone is kept: a run never gives its files another name.
  journal_.Add(IdentityRecord(JournalKind::kNewFile, file->relative, file->identity));
  made_files_.push_back(file->identity);
  pending_.push_back(*file);
  file->created = false;
}

ErrorCode Transaction::SyncWrittenFileSystems() {
  if (syncfs(root_) != 0) return ErrorCodeFromErrno(errno);
  for (const auto& device : written_devices_) {
    if (device.first == root_identity_.device) continue;
    if (syncfs(device.second) != 0) return ErrorCodeFromErrno(errno);
  }
  return kSuccess;
}

ErrorCode Transaction::PublishPending() {
  assert(state_ == State::kBegun);
  if (pending_.empty()) return kSuccess;
  // Data first, then the records that name it, then the names: a power cut leaves either the
  // old name with its original, or the new name with whole data and a durable record of it.
  ErrorCode code = journal_.Flush();
  if (code == kSuccess) code = SyncWrittenFileSystems();
  if (code == kSuccess) code = Guard(true);
  if (code == kSuccess && OnlyNewFilesInOwnFolders()) {
    code = PublishNewFilesOnTwoThreads();
  } else {
    for (std::size_t done = 0; code == kSuccess && done < pending_.size(); ++done) {
      code = PublishFile(&pending_[done]);
      if (code != kSuccess) failed_relative_ = pending_[done].relative;
    }
  }
  // Whatever did not take its name goes (PublishFile removed its own failure already).
  const int error = errno;
  for (PendingFile& file : pending_) {
    if (file.created) AbandonFile(&file);
  }
  pending_.clear();
  errno = error;
  return code;
}

bool Transaction::OnlyNewFilesInOwnFolders() const {
  for (const PendingFile& file : pending_) {
    if (file.replaces || !IsRunsOwnDirectory(RelativeParent(file.relative))) return false;
  }
  return true;
}

// Each thread renames its half of the batch in order, through a descriptor of the folder
// at hand (files of one folder follow each other): renames in different folders do not wait
// for each other in the kernel. The first failure stops both.
ErrorCode Transaction::PublishNewFilesOnTwoThreads() {
  struct Half {
    std::size_t begin, end;
    std::size_t failed;
    int error = 0;
  };
  std::atomic<bool> stop{false};
  auto rename_half = [this, &stop](Half* half) {
    half->failed = half->end;
    NarrowString folder_name;
    int folder = -1;
    for (std::size_t i = half->begin; i < half->end && !stop.load(std::memory_order_relaxed);
         ++i) {
      PendingFile& file = pending_[i];
      const NarrowString directory = RelativeParent(file.relative);
      if (folder < 0 || directory != folder_name) {
        if (folder >= 0) close(folder);
        folder_name = directory;
        folder = OpenFolderBeneath(root_, directory, O_PATH);
      }
      // Where nothing was when the run looked, nothing is replaced now.
      if (folder < 0 || !RenameNoReplace(folder, NameOf(file.temp_relative), folder,
                                         NameOf(file.relative))) {
        half->error = errno;
        half->failed = i;
        stop.store(true, std::memory_order_relaxed);
        break;
      }
      file.created = false;
    }
    if (folder >= 0) close(folder);
  };
  const std::size_t middle = pending_.size() / 2;
  Half first{0, middle, 0};
  Half second{middle, pending_.size(), 0};
  std::thread other;
  try {
    other = std::thread(rename_half, &second);
  } catch (const std::system_error&) {
    rename_half(&second);
  }
  rename_half(&first);
  if (other.joinable()) other.join();
  const Half* failed = first.failed < first.end ? &first : second.failed < second.end ? &second : nullptr;
  if (failed == nullptr) return kSuccess;
  failed_relative_ = pending_[failed->failed].relative;
  errno = failed->error;
  return ErrorCodeFromErrno(failed->error);
}

ErrorCode Transaction::PublishFile(PendingFile* file) {
  assert(journal_.IsSynced());
  const NarrowString directory = RelativeParent(file->relative);
  const bool own = IsRunsOwnDirectory(directory);
  if (file->replaces && !own && own_files_.count(file->relative) == 0) {
    const ErrorCode code = BackUpFile(file->relative);
    if (code != kSuccess) {
      const int error = errno;
      AbandonFile(file);
      errno = error;
      return code;
    }
  }
  const int folder = FolderDescriptor(directory);
  // Where nothing was when the run looked, nothing is replaced now: a file the user saved
  // there meanwhile stays, and the run fails.
  const bool renamed =
      folder >= 0 &&
      (file->replaces
           ? renameat(folder, NameOf(file->temp_relative), folder, NameOf(file->relative)) == 0
           : RenameNoReplace(folder, NameOf(file->temp_relative), folder, NameOf(file->relative)));
  if (!renamed) {
    const int error = errno;
    AbandonFile(file);
    errno = error;
    return ErrorCodeFromErrno(error);
  }
  file->created = false;
  if (!own) own_files_.insert(file->relative);
  return kSuccess;
}

int Transaction::OpenBackupFolder(const NarrowString& relative_directory, ErrorCode* code) {
  NarrowString level(kBackupFolderName);
  NarrowString rest = relative_directory;
  for (;;) {
    if (backup_directories_made_.count(level) == 0) {
      const char* name = nullptr;
      const int parent = OpenParentBeneath(work_, level, &name);
      NodeIdentity identity;
      mode_t mode = 0;
      const bool made = parent >= 0 && (mkdirat(parent, name, kWorkFolderMode) == 0 ||
                                        (errno == EEXIST && IdentityAt(parent, name, &identity, &mode) &&
                                         S_ISDIR(mode)));
      if (parent >= 0) close(parent);
      if (!made) {
        *code = kErrorNotFound;
        return -1;
      }
      backup_directories_made_.insert(level);
    }
    if (rest.Empty()) break;
    const NarrowString::size_type slash = rest.Find("/");
    const NarrowString name =
        slash == NarrowString::npos ? rest : NarrowString(rest, 0, slash);
    rest = slash == NarrowString::npos ? NarrowString() : NarrowString(rest, slash + 1);
    if (!name.Empty()) level = JoinPath(level, name);
  }
  const int folder = OpenFolderBeneath(work_, level, O_PATH);
  if (folder < 0) *code = ErrorCodeFromErrno(errno);
  return folder;
}

ErrorCode Transaction::BackUpFile(const NarrowString& relative) {
  const int folder = FolderDescriptor(RelativeParent(relative));
  if (folder < 0) return errno == ENOENT ? kSuccess : kErrorInvalidParameter;
  const char* name = NameOf(relative);
  NodeIdentity identity;
  mode_t mode = 0;
  if (!IdentityAt(folder, name, &identity, &mode)) {
    return errno == ENOENT ? kSuccess : ErrorCodeFromErrno(errno);
  }
  // A directory where the kit has a file is neither moved away nor replaced.
  if (S_ISDIR(mode)) return kErrorInvalidParameter;
  ErrorCode code = kSuccess;
  const int backup = OpenBackupFolder(RelativeParent(relative), &code);
  if (backup < 0) return code;
  // Only this run fills its backup folder: an original held already is the true one.
  NodeIdentity held;
  if (IdentityAt(backup, name, &held)) {
    close(backup);
    return kSuccess;
  }
  // A second name for the very file: the original stays at its name until the new file is
  // renamed over it, so the name is never empty, not even for a moment. Where the file
  // system has no hard links, the file itself is moved.
  if (linkat(folder, name, backup, name, 0) == 0 ||
      ((errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) &&
       renameat(folder, name, backup, name) == 0)) {
    close(backup);
    holds_originals_ = true;
    return kSuccess;
  }
  const int failure = errno;
  // The original went away since it was looked at: there is nothing to keep.
  if (failure == ENOENT && !IdentityAt(folder, name, &held) && errno == ENOENT) {
    close(backup);
    return kSuccess;
  }
  if (failure != EXDEV) {
    close(backup);
    return ErrorCodeFromErrno(failure);
  }
  // The file's folder is a mount of its own: a whole copy is made under a temporary name of
  // the backup folder, which only then takes the backup's name. The file itself stays until
  // the new one replaces it. The folders are named through their descriptors.
  // The copy is durable before the new file may replace the original on the other file
  // system: the two journals keep no order with each other.
  const NarrowString copy_name(NameOf(names_.Next(NarrowString())));
  code = CopyFileExclusively(DescriptorPath(folder, name), DescriptorPath(backup, copy_name.CStr()));
  int error = 0;
  if (code == kSuccess &&
      PutCopyInPlace(backup, copy_name.CStr(), name, &error) != ReplaceStep::kDone) {
    code = ErrorCodeFromErrno(error);
  }
  if (code != kSuccess) unlinkat(backup, copy_name.CStr(), 0);
  close(backup);
  if (code == kSuccess) holds_originals_ = true;
  return code;
}

ErrorCode Transaction::Commit() {
  assert(state_ == State::kBegun);
  if (!journal_.IsOpen()) {
    End();
    return kSuccess;
  }
  ErrorCode code = PublishPending();
  if (code != kSuccess) return code;
  // A directory swapped for another under the run's feet: the run is undone where it was made.
  if (!TargetStillNamed()) return kErrorInvalidParameter;
  // Every new file and name is on the disk before the commit point, and so before the
  // originals go and the settings record the directory.
  code = SyncWrittenFileSystems();
  if (code != kSuccess) return code;
  journal_.Close();
  // The commit point: from here on, the run is finished, never rolled back.
  if (renameat(work_, kJournalFileName, work_, kCommittedFileName) != 0) {
    return ErrorCodeFromErrno(errno);
  }
  committed_ = true;
  // The marker reaches the disk before any backup goes. Where it cannot be made durable, the
  // backups stay for the next start, which finds the marker and tidies up; the run itself
  // is complete either way.
  if (fsync(work_) != 0) {
    tidy_up_deferred_ = true;
    End();
    return kSuccess;
  }
  // What cannot be removed now is removed by the next run.
  RemoveWorkFolder(root_);
  if (!made_target_ && !entries_changed_target_) {
    for (const JournalRecord& record : records_) {
      if (record.kind != JournalKind::kDirectoryTime || !record.path.Empty()) continue;
      PutBackModificationTime(root_, NarrowString(), record.seconds, record.nanoseconds);
      break;
    }
  }
  End();
  return kSuccess;
}

void Transaction::Rollback() {
  // A committed run is finished: nothing of it is undone.
  assert(!committed_);
  if (committed_) {
    End();
    return;
  }
  for (PendingFile& file : pending_) AbandonFile(&file);
  pending_.clear();
  if (!records_.empty() && root_ >= 0) {
    journal_.Flush();
    RollbackContext context;
    context.root = root_;
    context.target = &target_;
    context.run_number = names_.RunNumber();
    context.made_files = &made_files_;
    context.journal = &journal_;
    context.names = &names_;
    restore_incomplete_ = !RollBackRecords(context, records_);
  }
  End();
}
