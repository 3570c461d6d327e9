#include "install/transaction.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "fs/directory_finder.h"
#include "fs/file_layer.h"
#include "fs/make_directory.h"
#include "fs/move_path.h"
#include "fs/shell_commands.h"
#include "install/path_parts.h"
#include "install/tree_listing.h"
#include "kit/temp_directory.h"
#include "text/locale_conversions.h"

namespace {

constexpr char16_t kBackupPrefix[] = u"t5stp";
constexpr mode_t kBackupDirectoryMode = 0700;

}  // namespace

Transaction::Transaction() : shell_commands_started_(0) {}

const TransactionRecord* Transaction::Current() const {
  return records_.empty() ? nullptr : &records_.back();
}

TransactionRecord* Transaction::MutableCurrent() {
  return records_.empty() ? nullptr : &records_.back();
}

// A replaced file is renamed, not moved by a shell "mv" process per file: the process costs
// far more than the file's own writing. Only across file systems does MovePath use "mv".
ErrorCode Transaction::RunMove(const WideString& from, const WideString& to) {
  bool ran_shell = false;
  const ErrorCode code = MovePath(from, to, &ran_shell);
  if (ran_shell) ++shell_commands_started_;
  return code;
}

ErrorCode Transaction::RunRemoveFile(const WideString& path) {
  ++shell_commands_started_;
  return ShellRemoveFile(path);
}

ErrorCode Transaction::RunRemoveTree(const WideString& path) {
  ++shell_commands_started_;
  return ShellRemoveTree(path);
}

ErrorCode Transaction::BeginTransaction(const WideString& target) {
  records_.emplace_back();
  TransactionRecord& record = records_.back();
  record.target_directory = target;
  if (target.Empty()) return kSuccess;

  const WideString temp = GetTempDirectory();
  // The temporary directory is shared with everyone: made when missing, never recorded.
  if (!PathExists(temp)) {
    const ErrorCode code = MakeDirectoryTree(temp);
    if (code != kSuccess) return code;
  }
  WideString base = temp;
  if (base.Empty() || base[base.Length() - 1] != u'/') base.Append(u'/');

  // mkdir(2) is the test and the creation in one step: a name that exists in any form,
  // also as a link, fails with EEXIST and the next number is tried.
  for (int32_t n = 0; n < INT32_MAX; ++n) {
    WideString candidate = base;
    candidate.Append(kBackupPrefix);
    candidate.Append(WideString::FormatInteger(n, 10));
    if (mkdir(ToLocaleBytes(candidate).CStr(), kBackupDirectoryMode) == 0) {
      record.backup_tree_made.insert(candidate);
      candidate.Append(u'/');
      record.backup_directory = candidate;
      return kSuccess;
    }
    if (errno != EEXIST) return ErrorCodeFromErrno(errno);
  }
  return kErrorInvalidParameter;
}

void Transaction::NoteDirectoryChange(const WideString& directory) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr || directory.Empty()) return;
  const WideString key = WithoutTrailingSlash(directory);
  if (record->created_lookup.count(key) != 0 || record->changed_lookup.count(key) != 0) return;
  // The directory the entries live in, also when it is reached through a link.
  struct stat64 status;
  if (stat64(ToLocaleBytes(key).CStr(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
  record->changed_lookup.insert(key);
  record->changed_directories.push_back(DirectoryTime{key, status.st_mtim});
}

bool Transaction::IsRunsOwnDirectory(const WideString& directory) const {
  const TransactionRecord* record = Current();
  if (record == nullptr || directory.Empty()) return false;
  if (record->created_lookup.count(WithoutTrailingSlash(directory)) != 0) return true;
  // Not there yet: the run makes it (and records it) before writing into it, or fails.
  return NothingExistsAt(directory);
}

void Transaction::MarkBackupTreeMade(const WideString& directory) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr) return;
  const WideString root = WithoutTrailingSlash(record->backup_directory);
  WideString level = WithoutTrailingSlash(directory);
  while (level.Length() > root.Length() && record->backup_tree_made.insert(level).second) {
    WideString parent;
    if (!ParentPath(level, &parent)) break;
    level = WithoutTrailingSlash(parent);
  }
}

ErrorCode Transaction::BackUpFile(const WideString& path) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr) return kErrorInvalidParameter;
  WideString parent;
  const bool has_parent = ParentPath(path, &parent);

  struct stat64 status;
  const int status_error = NodeStatus(path, &status);
  if (status_error == ENOENT || status_error == ENOTDIR) return NoteNewFile(path);
  if (status_error != 0) return ErrorCodeFromErrno(status_error);
  // A directory where the kit has a file is neither moved away nor replaced.
  if (S_ISDIR(status.st_mode)) return kErrorInvalidParameter;
  if (record->backup_directory.Empty()) return kErrorInvalidParameter;

  const WideString& target = record->target_directory;
  if (path.Length() < target.Length() ||
      WideString(path, 0, target.Length()) != target) {
    return kErrorInvalidParameter;
  }
  const WideString relative(path, target.Length());
  WideString destination = record->backup_directory;
  destination.Append(relative);
  const WideString::size_type slash = destination.FindLastOf(u"/");
  const WideString backup_parent =
      WithoutTrailingSlash(WideString(destination, 0, slash == WideString::npos ? 0 : slash));
  if (record->backup_tree_made.count(backup_parent) != 0) {
    // Only this run puts anything into its backup tree: a file there is the original of a
    // path the kit names more than once, and the file at path now is the run's own.
    struct stat64 backup_status;
    if (NodeStatus(destination, &backup_status) == 0) {
      return S_ISDIR(backup_status.st_mode) ? kErrorInvalidParameter : kSuccess;
    }
  } else {
    const ErrorCode code = EnsureDirectory(WideString(destination, 0, slash));
    if (code != kSuccess) return code;
  }
  if (has_parent) NoteDirectoryChange(parent);
  // Something exists at path, so any failure of the move is a failed backup.
  return RunMove(path, destination);
}

ErrorCode Transaction::NoteNewFile(const WideString& path) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr) return kErrorInvalidParameter;
  WideString parent;
  const bool has_parent = ParentPath(path, &parent);
  // In a directory of the run's own, a rollback removes the file with that directory, so
  // it is not listed: the list would otherwise grow with every file of a fresh
  // installation. Elsewhere a rollback removes it by name, and the directory it appears in
  // gets its time back.
  if (has_parent && IsRunsOwnDirectory(parent)) return kSuccess;
  if (has_parent) NoteDirectoryChange(parent);
  record->files_to_delete.push_back(path);
  return kSuccess;
}

ErrorCode Transaction::CreateDirectoryRecorded(const WideString& directory) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr) return kErrorInvalidParameter;
  if (IsRootPath(directory)) return kSuccess;
  // Every file of a directory comes here; one lookup per directory is enough.
  const WideString known = WithoutTrailingSlash(directory);
  if (record->created_lookup.count(known) != 0 || record->existing_lookup.count(known) != 0) {
    return kSuccess;
  }
  // Already exists (183) counts as success.
  if (PathExists(directory)) {
    record->existing_lookup.insert(known);
    return kSuccess;
  }

  // The levels MakeDirectoryTree is about to make, innermost first.
  std::vector<WideString> missing(1, directory);
  WideString parent;
  bool parent_known = ParentPath(directory, &parent);
  while (parent_known && !parent.Empty() && !IsRootPath(parent) && !IsDriveParent(parent) &&
         !PathExists(parent)) {
    missing.push_back(parent);
    WideString next;
    parent_known = ParentPath(parent, &next);
    parent = next;
  }
  if (parent_known) NoteDirectoryChange(parent.Empty() ? WideString(u"/") : parent);

  // mkdir(2) level by level with the outcome of "mkdir -p", without a process per new
  // directory chain (fs/make_directory.h).
  ErrorCode code = MakeDirectoryTree(directory);
  // Every level that exists now was made by this call, also when it failed further in.
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    if (code != kSuccess && !PathExists(*level)) continue;
    const WideString key = WithoutTrailingSlash(*level);
    if (record->created_lookup.insert(key).second) record->created_directories.push_back(*level);
  }
  if (code == kSuccess) return kSuccess;

  WideString direct_parent;
  if (!ParentPath(directory, &direct_parent) || IsDriveParent(direct_parent)) {
    return kErrorPathNotFound;
  }
  code = CreateDirectoryRecorded(direct_parent);
  if (code != kSuccess) return code;
  code = MakeDirectoryTree(directory);
  if (code != kSuccess) return code;
  const WideString key = WithoutTrailingSlash(directory);
  if (record->created_lookup.insert(key).second) record->created_directories.push_back(directory);
  return kSuccess;
}

ErrorCode Transaction::EnsureDirectory(const WideString& directory) {
  TransactionRecord* record = MutableCurrent();
  if (record == nullptr) return kErrorInvalidParameter;
  if (IsRootPath(directory)) return kSuccess;
  if (record->backup_tree_made.count(WithoutTrailingSlash(directory)) != 0) return kSuccess;
  ErrorCode code = MakeDirectoryTree(directory);
  if (code == kSuccess) {
    MarkBackupTreeMade(directory);
    return kSuccess;
  }
  WideString parent;
  if (!ParentPath(directory, &parent) || IsDriveParent(parent)) return kErrorPathNotFound;
  code = EnsureDirectory(parent);
  if (code != kSuccess) return code;
  code = MakeDirectoryTree(directory);
  if (code == kSuccess) MarkBackupTreeMade(directory);
  return code;
}

void Transaction::DiscardBackupDirectory() {
  const TransactionRecord* record = Current();
  if (record == nullptr || record->backup_directory.Empty()) return;
  const WideString backup = WithoutTrailingSlash(record->backup_directory);
  // Made with mkdir(2) by this run; still empty when the run replaced nothing.
  if (record->backup_tree_made.size() == 1 && rmdir(ToLocaleBytes(backup).CStr()) == 0) return;
  DeleteTree(backup);
}

void Transaction::Commit() { DiscardBackupDirectory(); }

ErrorCode Transaction::Rollback(ErrorCode code) {
  const TransactionRecord* record = Current();
  if (record == nullptr) return code;
  // Restore first: the backed-up files go back into directories that existed before the
  // run, and only then is anything deleted.
  if (!record->target_directory.Empty() && !record->backup_directory.Empty()) {
    RestoreTree(record->target_directory, record->backup_directory);
  }
  if (!record->restore_incomplete) DiscardBackupDirectory();
  for (const WideString& directory : record->created_directories) DeleteTree(directory);
  for (const WideString& file : record->files_to_delete) {
    // Files in a directory the run made went with it.
    if (!NothingExistsAt(file)) RunRemoveFile(file);
  }
  RestoreDirectoryTimes();
  return code;
}

void Transaction::RestoreDirectoryTimes() {
  const TransactionRecord* record = Current();
  if (record == nullptr) return;
  for (auto changed = record->changed_directories.rbegin();
       changed != record->changed_directories.rend(); ++changed) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = changed->modified;
    utimensat(AT_FDCWD, ToLocaleBytes(changed->path).CStr(), times, 0);
  }
}

void Transaction::RestoreTree(const WideString& target, const WideString& backup) {
  std::vector<TreeEntry> entries;
  // What could be listed is still moved back; the rest stays in the backup, which is kept.
  if (ListDirectoryEntries(backup, &entries) != kSuccess) {
    TransactionRecord* record = MutableCurrent();
    if (record != nullptr) record->restore_incomplete = true;
  }
  for (const TreeEntry& entry : entries) {
    WideString from = backup;
    from.Append(entry.name);
    WideString to = target;
    to.Append(entry.name);
    if (entry.is_directory) {
      from.Append(u'/');
      to.Append(u'/');
      RestoreTree(to, from);
    } else if (RunMove(from, to) != kSuccess) {
      TransactionRecord* record = MutableCurrent();
      if (record != nullptr) record->restore_incomplete = true;
    }
  }
}

ErrorCode Transaction::DeleteTree(const WideString& directory) {
  if (directory.Empty()) return kSuccess;
  const WideString path = WithoutTrailingSlash(directory);
  if (IsRootPath(path) || NothingExistsAt(path)) return kSuccess;
  RunRemoveTree(path);
  return kSuccess;
}
