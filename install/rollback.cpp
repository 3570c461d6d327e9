#include "install/rollback.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "fs/beneath.h"
#include "fs/copy_file.h"
#include "fs/directory_listing.h"
#include "fs/replace_file.h"
#include "fs/system_error.h"
#include "fs/remove_tree.h"
#include "install/journal_format.h"
#include "install/relative_path.h"
#include "text/path_slashes.h"

namespace {

using RecordKey = std::pair<JournalKind, NarrowString>;

// Takes one change from the budget; false when none is left.
bool MayChange(int64_t* changes_left) {
  if (changes_left == nullptr) return true;
  if (*changes_left <= 0) return false;
  --*changes_left;
  return true;
}

using Folder = ScopedDescriptor;

// What the records say the run made and owns.
class RunsOwn {
 public:
  RunsOwn(const RollbackContext& context, const std::vector<JournalRecord>& records) {
    if (!context.run_number.Empty()) run_numbers_.insert(context.run_number);
    if (context.made_files != nullptr) {
      for (const NodeIdentity& made : *context.made_files) files_.insert(Key(made));
    }
    for (const JournalRecord& record : records) {
      RunOwner owner;
      if (ReadRunOwner(record, &owner)) run_numbers_.insert(owner.run_number);
      if (record.kind != JournalKind::kMadeIdentity) continue;
      if (record.retracted == JournalKind::kMadeDirectory) {
        folders_.insert({record.path, record.identity});
      } else {
        files_.insert(Key(record.identity));
      }
    }
  }

  bool IsTempName(const char* name) const {
    for (const NarrowString& run : run_numbers_) {
      if (IsTempNameOfRun(name, run)) return true;
    }
    return false;
  }

  // Whether the node now at name in folder is a file the run made, as the run left it: the
  // same node, with the size and time it had (a freed inode number is soon given to the next
  // new file, and a file the user wrote to since is the user's). The name does not matter: the
  // run never gives a file it made another name.
  bool IsOwnFile(int folder, const char* name) const {
    NodeIdentity now;
    if (!IdentityAt(folder, name, &now)) return false;
    return files_.count(Key(now)) != 0;
  }

  // Whether the folder open as folder is not known to be someone else's: the run recorded
  // it as made with that identity, or recorded no identity for it (killed between making
  // it and writing that record; a folder then goes only while empty).
  bool MayBeOwnFolder(int folder, const NarrowString& relative) const {
    auto range = folders_.equal_range(relative);
    if (range.first == range.second) return true;
    NodeIdentity now;
    if (!IdentityOf(folder, &now)) return false;
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second.SameNode(now)) return true;
    }
    return false;
  }

 private:
  using FileKey = std::tuple<uint64_t, uint64_t, uint64_t, int64_t, uint32_t>;
  static FileKey Key(const NodeIdentity& identity) {
    return FileKey(identity.device, identity.inode, identity.size, identity.seconds,
                   identity.nanoseconds);
  }

  std::set<NarrowString> run_numbers_;
  std::set<FileKey> files_;
  std::multimap<NarrowString, NodeIdentity> folders_;
};

// Removes the run's own entries of the folder open as folder (at relative): its temporary
// files and the files it made. False when a removal failed.
bool RemoveOwnEntries(int folder, const NarrowString& relative, const RunsOwn& own,
                      int64_t* changes_left, bool* stopped) {
  DirectoryListing listing;
  if (listing.OpenAt(folder, ".") != kSuccess) return false;
  std::vector<NarrowString> names;
  bool complete = listing.ReadAll(&names) == kSuccess;
  for (const NarrowString& name : names) {
    if (relative.Empty() && name == NarrowString(kWorkFolderName)) continue;
    if (!own.IsTempName(name.CStr()) &&
        !own.IsOwnFile(folder, name.CStr())) {
      continue;
    }
    if (!MayChange(changes_left)) {
      *stopped = true;
      return false;
    }
    if (unlinkat(folder, name.CStr(), 0) != 0 && errno != ENOENT && errno != EISDIR) {
      complete = false;
    }
  }
  return complete;
}

// Whether name holds the same bytes in both folders (neither followed).
bool SameBytes(int first_folder, int second_folder, const char* name) {
  Folder first(openat(first_folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  Folder second(openat(second_folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!first.ok() || !second.ok()) return false;
  char a[16384], b[16384];
  for (;;) {
    const ssize_t got_a = read(first.get(), a, sizeof a);
    if (got_a < 0) return false;
    ssize_t got_b = 0;
    while (got_b < got_a) {
      const ssize_t got = read(second.get(), b + got_b, static_cast<std::size_t>(got_a - got_b));
      if (got < 0) return false;
      if (got == 0) break;
      got_b += got;
    }
    if (got_b != got_a || std::memcmp(a, b, static_cast<std::size_t>(got_a)) != 0) return false;
    if (got_a == 0) return read(second.get(), b, 1) == 0;
  }
}

// Puts back the original of relative held in the backup folder. True when it is back, was
// never moved away, or was removed as a second name of a file still in place.
bool RestoreOriginal(const RollbackContext& context, int work, const NarrowString& relative,
                     const RunsOwn& own) {
  const char* name = nullptr;
  const NarrowString backup_relative = JoinPath(NarrowString(kBackupFolderName), relative);
  Folder backup(OpenParentBeneath(work, backup_relative, &name));
  if (!backup.ok()) return errno == ENOENT;
  NodeIdentity held;
  mode_t mode = 0;
  if (!IdentityAt(backup.get(), name, &held, &mode)) return errno == ENOENT;
  if (S_ISDIR(mode)) return false;
  const NarrowString parent = RelativeParent(relative);
  Folder folder(OpenFolderBeneath(context.root, parent, O_PATH));
  // The original's folder is gone or is no folder now (a link): the original stays kept.
  if (!folder.ok()) return false;
  NodeIdentity now;
  if (IdentityAt(folder.get(), name, &now)) {
    // The backup is a second name of the very file still in place: the name never changed.
    if (now.SameNode(held)) return unlinkat(backup.get(), name, 0) == 0 || errno == ENOENT;
    // Something that is not the run's own is never overwritten. An original copied from
    // another file system has an identity of its own: a name that still holds the same
    // bytes is that original, unchanged.
    if (!own.IsOwnFile(folder.get(), name)) {
      if (now.device == held.device || !SameBytes(folder.get(), backup.get(), name)) {
        return false;
      }
      return unlinkat(backup.get(), name, 0) == 0 || errno == ENOENT;
    }
  } else if (errno != ENOENT) {
    return false;
  }
  if (renameat(backup.get(), name, folder.get(), name) == 0) return true;
  if (errno != EXDEV) return false;
  // The original's folder is on a file system of its own: copy it to a temporary name
  // there, recorded first, and rename that over the name.
  const NarrowString temp_relative = context.names->Next(parent);
  if (context.journal != nullptr && context.journal->IsOpen()) {
    JournalRecord record;
    record.kind = JournalKind::kTempFile;
    record.path = temp_relative;
    context.journal->Add(record);
    if (context.journal->Sync() != kSuccess) return false;
  }
  const char* temp_name = NameOf(temp_relative);
  if (CopyFileExclusively(DescriptorPath(backup.get(), name),
                          DescriptorPath(folder.get(), temp_name)) != kSuccess) {
    return false;
  }
  // The copy, and then its name, are durable before the backup goes: the two file systems
  // keep no order with each other.
  int error = 0;
  if (PutCopyInPlace(folder.get(), temp_name, name, &error) != ReplaceStep::kDone) return false;
  unlinkat(backup.get(), name, 0);
  return true;
}

// Appends the relative paths of every file held in the backup folder to *held.
bool ListBackups(int folder, const NarrowString& relative, std::vector<NarrowString>* held) {
  DirectoryListing listing;
  if (listing.OpenAt(folder, ".") != kSuccess) return false;
  std::vector<NarrowString> names;
  bool complete = listing.ReadAll(&names) == kSuccess;
  for (const NarrowString& name : names) {
    const NarrowString path = JoinPath(relative, name);
    NodeIdentity identity;
    mode_t mode = 0;
    if (!IdentityAt(folder, name.CStr(), &identity, &mode)) continue;
    if (!S_ISDIR(mode)) {
      held->push_back(path);
      continue;
    }
    Folder child(openat(folder, name.CStr(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child.ok() || !ListBackups(child.get(), path, held)) complete = false;
  }
  return complete;
}

// Removes the template directory the run made and the directories it made above it (each
// only while it is empty), then gives the directory that holds them its time back.
void RemoveMadeLevels(int root, const NarrowString& target, const JournalRecord& made) {
  NodeIdentity root_identity, named;
  // Only the directory the run holds open, not something put at its name since.
  if (!IdentityOf(root, &root_identity)) return;
  NarrowString level = WithoutTrailingSlashes(target);
  if (!IdentityAt(AT_FDCWD, level.CStr(), &named) || !named.SameNode(root_identity)) return;
  for (uint32_t i = 0; i <= made.levels; ++i) {
    if (rmdir(level.CStr()) != 0 || !ParentDirectory(level, &level)) return;
  }
  Folder holder(OpenRootDirectory(level.CStr()));
  if (holder.ok()) PutBackModificationTime(holder.get(), NarrowString(), made.seconds, made.nanoseconds);
}

}  // namespace

ErrorCode RemoveWorkFolder(int root, int64_t* changes_left, int checked) {
  Folder work(checked >= 0 ? fcntl(checked, F_DUPFD_CLOEXEC, 0)
                           : openat(root, kWorkFolderName,
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!work.ok()) return errno == ENOENT ? kSuccess : ErrorCodeFromErrno(errno);
  if (!MayChange(changes_left)) return kErrorCancelled;
  // Nothing that says what to do with the backups goes before they are gone: a removal that
  // fails or is cut short is finished by the next run, which still finds what the journal
  // (or the committed marker) says.
  const ErrorCode code = RemoveTreeAt(work.get(), kBackupFolderName);
  if (code != kSuccess) return code;
  for (const char* name : {kCommittedFileName, kJournalFileName}) {
    if (!MayChange(changes_left)) return kErrorCancelled;
    if (unlinkat(work.get(), name, 0) != 0 && errno != ENOENT) return ErrorCodeFromErrno(errno);
  }
  // The journal goes with the folder in one step.
  if (unlinkat(root, kWorkFolderName, AT_REMOVEDIR) != 0 && errno != ENOENT) {
    return ErrorCodeFromErrno(errno);
  }
  return kSuccess;
}

bool RollBackRecords(const RollbackContext& context, const std::vector<JournalRecord>& records) {
  int64_t* const changes_left = context.changes_left;
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
  const RunsOwn own(context, records);
  const int root = context.root;

  bool complete = true;
  bool stopped = false;
  for (const JournalRecord& record : records) {
    const bool temp = live(record, JournalKind::kTempFile);
    if (!temp && !live(record, JournalKind::kNewFile)) continue;
    const char* name = nullptr;
    Folder folder(OpenParentBeneath(root, record.path, &name));
    // A folder on the way that is gone, or is a link now: nothing of the run's is there.
    if (!folder.ok()) continue;
    // A temporary-file record names a file of this run, or of the roll-back that recorded
    // it (which has a run number of its own); either way the name has that form.
    const bool runs = temp ? HasTempNameForm(name) : own.IsOwnFile(folder.get(), name);
    if (!runs) continue;
    if (!MayChange(changes_left)) return false;
    if (unlinkat(folder.get(), name, 0) != 0 && errno != ENOENT && errno != EISDIR) {
      complete = false;
    }
  }
  for (auto record = records.rbegin(); record != records.rend(); ++record) {
    if (!live(*record, JournalKind::kMadeDirectory)) continue;
    Folder folder(OpenFolderBeneath(root, record->path, 0));
    if (!folder.ok() || !own.MayBeOwnFolder(folder.get(), record->path)) continue;
    if (!RemoveOwnEntries(folder.get(), record->path, own, changes_left, &stopped)) {
      if (stopped) return false;
      complete = false;
    }
    const char* name = nullptr;
    Folder parent(OpenParentBeneath(root, record->path, &name));
    if (!parent.ok()) continue;
    if (!MayChange(changes_left)) return false;
    // A folder that still holds something else is the user's now, with what it holds.
    unlinkat(parent.get(), name, AT_REMOVEDIR);
  }
  if (made_target) {
    if (!RemoveOwnEntries(root, NarrowString(), own, changes_left, &stopped)) {
      if (stopped) return false;
      complete = false;
    }
  }

  Folder work(context.work >= 0 ? fcntl(context.work, F_DUPFD_CLOEXEC, 0)
                                 : openat(root, kWorkFolderName,
                                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  std::set<NarrowString> backed_up_now;
  if (work.ok()) {
    // Every original held, whether a record names it or not: a backup is never dropped
    // while its name holds something else.
    std::vector<NarrowString> held;
    Folder backups(openat(work.get(), kBackupFolderName,
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (backups.ok() && !ListBackups(backups.get(), NarrowString(), &held)) complete = false;
    // No backup folder, or something else at its name, holds no original.
    if (!backups.ok() && errno != ENOENT && errno != ENOTDIR && errno != ELOOP) complete = false;
    for (const NarrowString& relative : held) {
      if (!IsContainedRelativePath(relative)) continue;
      if (!MayChange(changes_left)) return false;
      if (!RestoreOriginal(context, work.get(), relative, own)) complete = false;
      backed_up_now.insert(relative);
    }
  }
  // A name recorded as backed up whose original was gone before the backup was made: the
  // run's file there goes, as a new file would.
  for (const JournalRecord& record : records) {
    if (!live(record, JournalKind::kBackedUp) || backed_up_now.count(record.path) != 0) continue;
    const char* name = nullptr;
    Folder folder(OpenParentBeneath(root, record.path, &name));
    if (!folder.ok() || !own.IsOwnFile(folder.get(), name)) continue;
    if (!MayChange(changes_left)) return false;
    if (unlinkat(folder.get(), name, 0) != 0 && errno != ENOENT) complete = false;
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
    PutBackModificationTime(root, record->path, record->seconds, record->nanoseconds);
  }
  if (!complete) return false;
  if (context.journal != nullptr) context.journal->Close();
  if (RemoveWorkFolder(root, changes_left, work.ok() ? work.get() : -1) != kSuccess) return false;
  if (target_time != nullptr) {
    PutBackModificationTime(root, NarrowString(), target_time->seconds, target_time->nanoseconds);
  }
  if (made_target && context.target != nullptr) RemoveMadeLevels(root, *context.target, made);
  return true;
}

void PutBackModificationTime(int root, const NarrowString& relative, int64_t seconds,
                             uint32_t nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(nanoseconds);
  if (relative.Empty()) {
    futimens(root, times);
    return;
  }
  const char* name = nullptr;
  Folder folder(OpenParentBeneath(root, relative, &name));
  if (folder.ok()) utimensat(folder.get(), name, times, AT_SYMLINK_NOFOLLOW);
}
