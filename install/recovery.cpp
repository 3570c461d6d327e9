#include "install/recovery.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "fs/beneath.h"
#include "fs/directory_listing.h"
#include "install/journal.h"
#include "install/journal_format.h"
#include "install/relative_path.h"
#include "install/rollback.h"
#include "install/run_owner.h"
#include "install/target_lock.h"
#include "text/path_slashes.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

using Descriptor = ScopedDescriptor;

RecoveryOutcome Refuse(RecoveryDetail* detail, const char* what, const char* why) {
  detail->reason = NarrowString(what);
  detail->reason.Append(why);
  return RecoveryOutcome::kUntrusted;
}

// Whether status is this user's own and writable by nobody else.
const char* OwnershipFault(const struct stat64& status) {
  if (status.st_uid != geteuid()) return " belongs to another user";
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) return " can be changed by other users";
  return nullptr;
}

// Opens name in the work folder as a journal this user wrote: a regular file, no link, of
// this user, writable by nobody else, of a bounded size. -1 when it is absent (errno
// ENOENT) or refused (*refusal set).
int OpenOwnJournal(int work, const char* name, RecoveryOutcome* refusal, RecoveryDetail* detail) {
  const int descriptor = openat(work, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno == ENOENT) return -1;
    *refusal = Refuse(detail, "its journal",
                      errno == ELOOP ? " is a symbolic link" : " cannot be opened");
    return -1;
  }
  struct stat64 status;
  const char* fault = nullptr;
  if (fstat64(descriptor, &status) != 0) {
    fault = " cannot be read";
  } else if (!S_ISREG(status.st_mode)) {
    fault = " is not a file";
  } else if ((fault = OwnershipFault(status)) != nullptr) {
  } else if (static_cast<uint64_t>(status.st_size) > kJournalMaxBytes) {
    fault = " is larger than any journal of this program (128 MiB)";
  }
  if (fault != nullptr) {
    close(descriptor);
    *refusal = Refuse(detail, "its journal", fault);
    errno = EPERM;
    return -1;
  }
  return descriptor;
}

// Whether the records say anything beyond who kept them.
bool HasChanges(const std::vector<JournalRecord>& records) {
  for (const JournalRecord& record : records) {
    if (record.kind != JournalKind::kOwner) return true;
  }
  return false;
}

// Whether the tree of the folder open as folder holds directories only.
bool HoldsOnlyDirectories(int folder) {
  DirectoryListing listing;
  if (listing.OpenAt(folder, ".") != kSuccess) return false;
  std::vector<NarrowString> names;
  if (listing.ReadAll(&names) != kSuccess) return false;
  for (const NarrowString& name : names) {
    Descriptor child(openat(folder, name.CStr(), kFolderFlags));
    if (!child.ok() || !HoldsOnlyDirectories(child.get())) return false;
  }
  return true;
}

// Whether the work folder holds no more than a run leaves before its first change: a
// journal with no change (or not even its whole magic), and empty backup folders.
bool HoldsNothingOfARun(int work, bool journal_without_changes) {
  DirectoryListing listing;
  if (listing.OpenAt(work, ".") != kSuccess) return false;
  std::vector<NarrowString> names;
  if (listing.ReadAll(&names) != kSuccess) return false;
  for (const NarrowString& name : names) {
    if (name == NarrowString(kBackupFolderName)) {
      Descriptor backup(openat(work, name.CStr(), kFolderFlags));
      if (backup.ok() && HoldsOnlyDirectories(backup.get())) continue;
    }
    if (name == NarrowString(kJournalFileName) && journal_without_changes) continue;
    return false;
  }
  return true;
}

// The owner record, when the journal begins with one.
bool OwnerOf(const std::vector<JournalRecord>& records, RunOwner* owner) {
  return !records.empty() && ReadRunOwner(records.front(), owner);
}

// Whether the run that wrote records is proven to have ended; *detail says why not.
bool RunHasEnded(const std::vector<JournalRecord>& records, bool lock_held,
                 RecoveryDetail* detail) {
  RunOwner owner;
  const bool known = OwnerOf(records, &owner);
  const OwnerState state = known ? JudgeRunOwner(owner) : OwnerState::kUnknown;
  // The lock proves it on this host; a journal of another host is that host's business,
  // since a lock need not reach across hosts.
  if (lock_held && (!known || state != OwnerState::kUnknown)) return true;
  if (state == OwnerState::kEnded) return true;
  char text[160];
  if (!known) {
    std::snprintf(text, sizeof text, "its run cannot be proven to have ended");
  } else {
    std::snprintf(text, sizeof text, "its run (pid %u on %s) may still be at work", owner.pid,
                  owner.host.CStr());
  }
  detail->reason = NarrowString(text);
  return false;
}

}  // namespace

RecoveryOutcome RecoverWorkFolder(int root, const NarrowString& target, bool lock_held,
                                  TempNames* names, RecoveryDetail* detail,
                                  int64_t* changes_left) {
  Descriptor work(openat(root, kWorkFolderName, kFolderFlags));
  if (!work.ok()) {
    if (errno == ENOENT) return RecoveryOutcome::kNothingLeft;
    return Refuse(detail, "it",
                  errno == ELOOP ? " is a symbolic link"
                                 : errno == ENOTDIR ? " is not a folder" : " cannot be opened");
  }
  struct stat64 status;
  if (fstat64(work.get(), &status) != 0) return Refuse(detail, "it", " cannot be read");
  if (const char* fault = OwnershipFault(status)) return Refuse(detail, "it", fault);

  RecoveryOutcome refusal = RecoveryOutcome::kNothingLeft;
  for (const char* name : {kCommittedFileName, kJournalFileName}) {
    Descriptor journal(OpenOwnJournal(work.get(), name, &refusal, detail));
    if (refusal != RecoveryOutcome::kNothingLeft) return refusal;
    if (!journal.ok()) continue;
    std::vector<JournalRecord> records;
    bool valid = false;
    std::size_t whole_bytes = 0;
    if (ReadJournal(journal.get(), &records, &valid, &whole_bytes) != kSuccess || !valid) {
      return Refuse(detail, "its journal", " is not a journal of this program");
    }
    if (!RunHasEnded(records, lock_held, detail)) return RecoveryOutcome::kBusy;
    const bool committed = std::strcmp(name, kCommittedFileName) == 0;
    if (committed || !HasChanges(records)) {
      if (!committed && !HoldsNothingOfARun(work.get(), true)) break;
      return RemoveWorkFolder(root, changes_left, work.get()) == kSuccess
                 ? RecoveryOutcome::kTidiedUp
                 : RecoveryOutcome::kKept;
    }
    JournalWriter append;
    // Without a journal to append to, a move back across file systems is still made; it
    // only cannot name its temporary file for a roll-back that is itself killed.
    append.OpenForAppend(work.get(), kJournalFileName, whole_bytes);
    RollbackContext context;
    context.root = root;
    context.work = work.get();
    context.target = &target;
    context.journal = &append;
    context.names = names;
    context.changes_left = changes_left;
    if (RollBackRecords(context, records)) return RecoveryOutcome::kRolledBack;
    detail->reason = NarrowString("originals that could not be put back are kept there");
    return RecoveryOutcome::kKept;
  }
  if (!HoldsNothingOfARun(work.get(), false)) {
    return Refuse(detail, "it", " holds files that no journal of this program explains");
  }
  return RemoveWorkFolder(root, changes_left, work.get()) == kSuccess
             ? RecoveryOutcome::kTidiedUp
             : RecoveryOutcome::kKept;
}

RecoveryOutcome RecoverTemplateDirectory(const NarrowString& target, RecoveryDetail* detail) {
  Descriptor root(OpenRootDirectory(WithoutTrailingSlashes(target).CStr()));
  if (!root.ok()) return RecoveryOutcome::kNothingLeft;
  // Most starts find no work folder: no lock is taken for them.
  NodeIdentity identity;
  if (!IdentityAt(root.get(), kWorkFolderName, &identity) && errno == ENOENT) {
    return RecoveryOutcome::kNothingLeft;
  }
  TargetLock lock;
  if (lock.Acquire(root.get(), WithoutTrailingSlashes(target), nullptr) !=
      TargetLock::Outcome::kLocked) {
    return RecoveryOutcome::kNothingLeft;
  }
  TempNames names;
  return RecoverWorkFolder(root.get(), target, lock.Held(), &names, detail);
}

bool ReadWorkFolderOwnerPid(int root, uint32_t* pid) {
  *pid = 0;
  Descriptor work(openat(root, kWorkFolderName, kFolderFlags));
  if (!work.ok()) return false;
  Descriptor journal(openat(work.get(), kJournalFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
                                                              O_CLOEXEC));
  if (!journal.ok()) return false;
  // The magic and the owner record are at the start: a short read is enough.
  char head[1024];
  const ssize_t got = read(journal.get(), head, sizeof head);
  if (got <= 0) return false;
  std::vector<JournalRecord> records;
  if (!DecodeJournal(head, static_cast<std::size_t>(got), &records)) return false;
  RunOwner owner;
  if (!OwnerOf(records, &owner)) return false;
  *pid = owner.pid;
  return true;
}

void ReportInterruptedInstallationRolledBack(const NarrowString& target) {
  std::fprintf(stderr, "setup: an interrupted installation into %s was rolled back\n",
               target.CStr());
}

void ReportWorkFolderLeftAlone(const NarrowString& target, RecoveryOutcome outcome,
                               const RecoveryDetail& detail) {
  const char* what = outcome == RecoveryOutcome::kBusy
                         ? "another installation may still be at work in"
                         : outcome == RecoveryOutcome::kKept ? "the work folder was kept:"
                                                             : "the work folder was left as it is:";
  std::fprintf(stderr, "setup: %s %s (%s); nothing was installed there\n", what,
               WorkFolderPath(target).CStr(), detail.reason.CStr());
}
