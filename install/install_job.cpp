#include "install/install_job.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <unordered_set>

#include "app/phase_trace.h"
#include "app/string_table.h"
#include "install/own_file_writers.h"
#include "install/recovery.h"
#include "install/relative_path.h"
#include "kit/distribution_kit.h"
#include "text/locale_conversions.h"

InstallJob::InstallJob(StopSignal* stop_signal)
    : transaction_(stop_signal), channel_(nullptr), stop_signal_(stop_signal) {}

WideString InstallJob::DestinationPath(const TargetDirectory& target, const EntryPath& path) {
  WideString destination = target.Text();
  destination.Append(path.Text());
  return destination;
}

int32_t InstallJob::Percentage(uint64_t j, uint64_t n) {
  return n == 0 ? 100 : static_cast<int32_t>(j * 100u / n);
}

namespace {

// Whether the file with status could be opened for reading by a process of the effective
// user id user. The owner's permission bits decide for the owner (an access control list
// cannot take them away), and the user id 0 reads everything; only for someone else's file
// is the system asked.
bool IsReadable(int folder, const char* name, const struct stat64& status, uid_t user) {
  if (user == 0) return true;
  if (status.st_uid == user) return (status.st_mode & S_IRUSR) != 0;
  return faccessat(folder, name, R_OK, AT_EACCESS) == 0;
}

RecoveryOutcome ToRecoveryOutcome(WorkFolderRefusal refusal) {
  switch (refusal) {
    case WorkFolderRefusal::kKept:
      return RecoveryOutcome::kKept;
    case WorkFolderRefusal::kBusy:
      return RecoveryOutcome::kBusy;
    default:
      return RecoveryOutcome::kUntrusted;
  }
}

// The cause of a failed step: its system error where one was left, else its code alone.
Status CauseOf(ErrorCode code, int error_number, const NarrowString& path) {
  if (error_number != 0) return Status::FromErrno(error_number, path, code);
  if (code == kErrorInvalidData) {
    return Status::Failure(code, path, NarrowString("the kit's data for this entry is damaged"));
  }
  NarrowString detail("failed with code ");
  detail.Append(NarrowString::FormatInteger(static_cast<int32_t>(code), 10));
  return Status::Failure(code, path, detail);
}

}  // namespace

InstallJob::Destination InstallJob::ExamineDestination(const NarrowString& path,
                                                       const FileTime& entry_time) {
  return ExamineDestination(AT_FDCWD, path.CStr(), entry_time, geteuid());
}

InstallJob::Destination InstallJob::ExamineDestination(int folder, const char* name,
                                                       const FileTime& entry_time, uid_t user) {
  struct stat64 status;
  if (fstatat64(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Destination::kAbsent : Destination::kOutOfDate;
  }
  if (S_ISDIR(status.st_mode)) return Destination::kDirectory;
  // A link is looked at through to what it names: a link to an up-to-date file stays.
  if (S_ISLNK(status.st_mode) && fstatat64(folder, name, &status, 0) != 0) {
    return Destination::kOutOfDate;
  }
  // A directory behind a link, a named pipe or a device is no installed file: it is
  // replaced like an old file. So is a file this process could not open for reading.
  if (!S_ISREG(status.st_mode) || !IsReadable(folder, name, status, user)) {
    return Destination::kOutOfDate;
  }
  // The file's time in whole seconds, in the kit's units.
  const FileTime last_write = FileTimeFromSystemSeconds(static_cast<int64_t>(status.st_mtime));
  return FileTimeValue(last_write) >= FileTimeValue(entry_time) ? Destination::kUpToDate
                                                                : Destination::kOutOfDate;
}

WideString InstallJob::RestoreFailureText(const NarrowString& folder) {
  WideString text = LoadText(NarrowString("IDS_ERROR_RESTORE"));
  text.Append(u'\n');
  text.Append(FromLocaleBytes(folder));
  return text;
}

int32_t InstallJob::ReportError(ErrorCode code, int32_t percent, const Status& cause) {
  // Rolled back first: only then is it known whether the directory is as it was.
  transaction_.Rollback();
  TellRolledBack();
  if (transaction_.Refusal() != WorkFolderRefusal::kNone) {
    ReportWorkFolderLeftAlone(transaction_.Target(), ToRecoveryOutcome(transaction_.Refusal()),
                              RecoveryDetail{transaction_.RefusalReason()});
    if (transaction_.Refusal() == WorkFolderRefusal::kBusy) {
      channel_->Post(static_cast<int32_t>(code), LoadText(NarrowString("IDS_INSTALL_ERROR")),
                     percent, false, cause);
    } else {
      channel_->Post(static_cast<int32_t>(code), RefusalText(transaction_), percent, true, cause);
    }
  } else if (transaction_.RestoreIncomplete()) {
    channel_->Post(static_cast<int32_t>(code),
                   RestoreFailureText(transaction_.BackupFolder()), percent, true, cause);
  } else {
    channel_->Post(static_cast<int32_t>(code), LoadText(NarrowString("IDS_INSTALL_ERROR")),
                   percent, false, cause);
  }
  return static_cast<int32_t>(code);
}

int32_t InstallJob::EndCancelled(int32_t percent) {
  transaction_.Rollback();
  TellRolledBack();
  if (transaction_.RestoreIncomplete()) {
    channel_->Post(static_cast<int32_t>(kErrorCancelled),
                   RestoreFailureText(transaction_.BackupFolder()), percent, true);
  }
  return static_cast<int32_t>(kErrorCancelled);
}

void InstallJob::TellRolledBack() {
  RunObserver* observer = channel_->run_observer();
  if (observer == nullptr) return;
  const bool complete = !transaction_.RestoreIncomplete();
  observer->RolledBack(complete, complete ? NarrowString() : transaction_.BackupFolder());
}

void InstallJob::PauseAfterFinish() {
  stop_signal_->PauseUnlessRequested(kFinishPauseMicroseconds);
}

bool InstallJob::EntryPaths(const DistributionKit& kit, std::vector<NarrowString>* paths,
                            std::vector<bool>* repeated, std::size_t* failing) {
  paths->resize(kit.EntryCount());
  repeated->assign(kit.EntryCount(), false);
  std::unordered_set<std::string_view> seen;
  for (std::size_t j = 0; j < kit.EntryCount(); ++j) {
    NarrowString& relative = (*paths)[j];
    if (!kit.Entry(j).path.ToBytes(&relative) || IsInWorkFolder(relative)) {
      *failing = j;
      return false;
    }
    (*repeated)[j] = !seen.insert(std::string_view(relative.Data(), relative.Length())).second;
  }
  return true;
}

InstallJob::Destination InstallJob::Examine(const NarrowString& relative, bool repeated,
                                            const FileTime& entry_time, uid_t user) {
  const NarrowString folder = RelativeParent(relative);
  // In a folder the run made, nothing is there but what the run wrote: a name the kit has
  // not named before needs no lookup.
  if (!repeated && transaction_.IsRunsOwnDirectory(folder)) return Destination::kAbsent;
  const int descriptor = transaction_.FolderDescriptor(folder);
  if (descriptor < 0) {
    // No folder, nothing in it. A folder that cannot be opened (a link on the way is never
    // followed) fails the run when the file is made there.
    return errno == ENOENT ? Destination::kAbsent : Destination::kOutOfDate;
  }
  return ExamineDestination(descriptor, NameOf(relative), entry_time, user);
}

ErrorCode InstallJob::InstallEntry(DistributionKit* kit, std::size_t j,
                                   const NarrowString& relative, Destination found) {
  ErrorCode code = transaction_.CreateDirectoryRecorded(RelativeParent(relative));
  if (code != kSuccess) return code;
  PendingFile file;
  code = transaction_.BeginFile(relative, found != Destination::kAbsent, &file);
  if (code != kSuccess) return code;
  code = kit->CopyEntryTo(j, static_cast<FileHandle>(file.descriptor), true);
  const ErrorCode closed = Transaction::CloseTempFile(&file.descriptor);
  if (code == kSuccess) code = closed;
  if (code != kSuccess) {
    transaction_.AbandonFile(&file);
    return code;
  }
  // The file takes its name with the others of the batch, once their data is on the disk.
  return transaction_.CompleteFile(&file);
}

bool InstallJob::WriteOwnStretch(DistributionKit* kit, const TargetDirectory& target,
                                 const std::vector<NarrowString>& relatives,
                                 const std::vector<bool>& repeated, std::size_t first,
                                 OwnFileWriters* writers, std::size_t* end, int32_t* ended) {
  const std::size_t count = kit->EntryCount();
  // The folders first, on this thread; a failure to make one ends the stretch and, once the
  // entries before it are written, the run.
  ErrorCode stopped_code = kSuccess;
  int stopped_error = 0;
  std::size_t j = first;
  for (; j < count && !repeated[j]; ++j) {
    const NarrowString folder = RelativeParent(relatives[j]);
    if (!transaction_.IsRunsOwnDirectory(folder) || writers->Full(folder)) break;
    errno = 0;
    ErrorCode code = transaction_.CreateDirectoryRecorded(folder);
    if (code == kSuccess &&
        !writers->Add(j, relatives[j], DestinationPath(target, kit->Entry(j).path))) {
      code = ErrorCodeFromErrno(errno);
    }
    if (code != kSuccess) {
      stopped_code = code;
      stopped_error = errno;
      break;
    }
  }
  // A single file is written as any other.
  if (stopped_code == kSuccess && writers->Size() < 2) {
    writers->Finish();
    return false;
  }
  if (writers->Size() > 0) {
    // The kit's data first, when the forecast at its opening was that nothing needed writing.
    errno = 0;
    const ErrorCode stored = kit->StoreData();
    if (stored != kSuccess) {
      const int error_number = errno;
      writers->Finish();
      const WideString destination = DestinationPath(target, kit->Entry(first).path);
      channel_->Post(0, destination, Percentage(first, count));
      *ended = ReportError(stored, Percentage(first, count),
                           CauseOf(stored, error_number, ToLocaleBytes(destination)));
      return true;
    }
  }
  writers->Write();

  // What the writers did, in table order, as the one-file path would have told it.
  RunObserver* observer = channel_->run_observer();
  struct Failure {
    ErrorCode code = kSuccess;
    int error_number = 0;
    std::size_t entry = 0;
    WideString destination;
  } failure;
  if (const OwnFileWriters::Job* failed = writers->failure()) {
    failure = Failure{failed->code, failed->error_number, failed->entry, failed->destination};
  }
  const bool cancelled = writers->cancelled();
  bool told_all = true;
  for (const OwnFileWriters::Job& job : writers->jobs()) {
    if (!told_all) break;
    if (job.outcome == OwnFileWriters::Outcome::kNameTaken && failure.code == kSuccess &&
        !cancelled) {
      errno = 0;
      const ErrorCode code = InstallEntry(kit, job.entry, job.file.relative, Destination::kAbsent);
      if (code != kSuccess) {
        failure = Failure{code, errno, job.entry, job.destination};
        told_all = false;
        continue;
      }
    } else if (job.outcome != OwnFileWriters::Outcome::kWritten) {
      told_all = false;
      continue;
    }
    if (observer != nullptr) observer->EntryDone(job.destination, EntryAction::kNew);
  }
  const std::size_t last_taken = writers->last_taken();
  // Everything either writer finished goes to the transaction, so that a rollback removes it.
  writers->Finish();

  if (failure.code != kSuccess) {
    *ended = ReportError(failure.code, Percentage(failure.entry, count),
                         CauseOf(failure.code, failure.error_number,
                                 ToLocaleBytes(failure.destination)));
    return true;
  }
  if (cancelled) {
    *ended = EndCancelled(Percentage(last_taken, count));
    return true;
  }
  if (stopped_code != kSuccess) {
    const WideString destination = DestinationPath(target, kit->Entry(j).path);
    channel_->Post(0, destination, Percentage(j, count));
    *ended = ReportError(stopped_code, Percentage(j, count),
                         CauseOf(stopped_code, stopped_error, ToLocaleBytes(destination)));
    return true;
  }
  *end = j;
  return false;
}

WideString InstallJob::RefusalText(const Transaction& transaction) {
  if (transaction.Refusal() == WorkFolderRefusal::kUntrusted) {
    WideString text = LoadText(NarrowString("IDS_ERROR_UNTRUSTED"));
    text.Append(u'\n');
    text.Append(FromLocaleBytes(transaction.BackupFolder()));
    return text;
  }
  return RestoreFailureText(transaction.BackupFolder());
}

int32_t InstallJob::Run(ProgressChannel* channel) {
  channel_ = channel;
  DistributionKit* kit = nullptr;
  TargetDirectory target;
  channel->TakeJob(&kit, &target);
  if (kit == nullptr) return ReportError(kErrorInvalidParameter, 0);

  transaction_.SetWaitObserver([this](const NarrowString& text) {
    // At once on standard error, and as the progress page's text.
    std::fprintf(stderr, "%s\n", text.CStr());
    channel_->PostNote(FromLocaleBytes(text));
  });
  // errno is cleared before each step whose failure is reported, so that the cause names
  // that step's system error and never one left over from a lookup that was no failure.
  errno = 0;
  ErrorCode code = transaction_.BeginTransaction(target);
  const int begin_error = errno;
  TracePhase("transaction_begun");
  if (transaction_.RolledBackInterruptedRun()) {
    ReportInterruptedInstallationRolledBack(transaction_.Target());
  }
  if (code == kErrorCancelled) {
    // Stopped while another installer held the directory: nothing was done.
    transaction_.End();
    return static_cast<int32_t>(code);
  }
  if (code != kSuccess) {
    return ReportError(code, 0, CauseOf(code, begin_error, ToLocaleBytes(target.Text())));
  }

  std::vector<NarrowString> relatives;
  std::vector<bool> repeated;
  std::size_t failing = 0;
  if (!EntryPaths(*kit, &relatives, &repeated, &failing)) {
    return ReportError(kErrorInvalidParameter, 0,
                       Status::Failure(kErrorInvalidParameter,
                                       ToLocaleBytes(kit->Entry(failing).name),
                                       NarrowString("the entry's name cannot be encoded in the "
                                                    "locale, or lies in the work folder")));
  }

  RunObserver* observer = channel->run_observer();
  const uid_t user = geteuid();
  const std::size_t count = kit->EntryCount();
  OwnFileWriters writers(&transaction_, kit, channel, count);
  for (std::size_t j = 0; j < count; ++j) {
    std::size_t stretch_end = j;
    int32_t ended = 0;
    if (WriteOwnStretch(kit, target, relatives, repeated, j, &writers, &stretch_end, &ended)) {
      return ended;
    }
    if (stretch_end > j) {
      j = stretch_end - 1;
      continue;
    }
    const KitEntry& entry = kit->Entry(j);
    const int32_t percent = Percentage(j, count);
    const WideString destination = DestinationPath(target, entry.path);
    channel->Post(0, destination, percent);
    // A name the kit repeats is looked at once the files before it are in place.
    if (repeated[j] && transaction_.HasPending()) {
      errno = 0;
      code = transaction_.PublishPending();
      if (code != kSuccess) {
        const int error_number = errno;
        return ReportError(code, percent,
                           CauseOf(code, error_number,
                                   JoinPath(transaction_.Target(), transaction_.FailedRelativePath())));
      }
    }
    const Destination found = Examine(relatives[j], repeated[j], entry.time, user);
    if (found == Destination::kUpToDate) {
      if (observer != nullptr) observer->EntryDone(destination, EntryAction::kUpToDate);
      // A cancel request ends the run after this entry too, so that a long stretch of
      // up-to-date entries does not hold a stop.
      if (channel->IsCancelRequested()) return EndCancelled(percent);
      continue;
    }
    if (found == Destination::kDirectory) {
      return ReportError(kErrorInvalidParameter, percent,
                         Status::FromErrno(EISDIR, ToLocaleBytes(destination),
                                           kErrorInvalidParameter));
    }
    errno = 0;
    // The first entry written stores the kit's data, when the forecast at its opening was
    // that nothing needed writing.
    code = kit->StoreData();
    if (code == kSuccess) code = InstallEntry(kit, j, relatives[j], found);
    if (code != kSuccess) {
      const int error_number = errno;
      return ReportError(code, percent, CauseOf(code, error_number, ToLocaleBytes(destination)));
    }
    if (observer != nullptr) {
      observer->EntryDone(destination, found == Destination::kAbsent ? EntryAction::kNew
                                                                      : EntryAction::kReplaced);
    }
    if (channel->IsCancelRequested()) return EndCancelled(percent);
  }
  TracePhase("files_written");
  errno = 0;
  code = transaction_.Commit();
  if (code != kSuccess) {
    const int error_number = errno;
    // The file that could not take its name, when it was one of them.
    const NarrowString path = transaction_.FailedRelativePath().Empty()
                                  ? ToLocaleBytes(target.Text())
                                  : JoinPath(transaction_.Target(), transaction_.FailedRelativePath());
    return ReportError(code, count == 0 ? 0 : Percentage(count - 1, count),
                       CauseOf(code, error_number, path));
  }
  if (transaction_.TidyUpDeferred()) {
    std::fprintf(stderr,
                 "setup: the installation into %s is complete, but the disk did not confirm it; "
                 "its work folder %s stays until the next start\n",
                 transaction_.Target().CStr(), transaction_.BackupFolder().CStr());
  }
  channel->Post(0, LoadText(NarrowString("IDS_INSTALL_FINISH")), 100);
  PauseAfterFinish();
  return 0;
}
