#include "install/install_job.h"

#include <sys/stat.h>

#include "app/string_table.h"
#include "kit/distribution_kit.h"

namespace {

constexpr uint32_t kOpenForUpToDateTest = kFileAccessRead;
// Non-blocking, so that a named pipe or a device at a destination cannot hold the run.
constexpr uint32_t kUpToDateTestAttributes = 0x80 | kFileFlagOpenNonBlocking;

}  // namespace

InstallJob::InstallJob(StopSignal* stop_signal) : channel_(nullptr), stop_signal_(stop_signal) {}

WideString InstallJob::DestinationPath(const WideString& target, const WideString& name) {
  WideString relative = name;
  relative.ReplaceAll(WideString(u"\\"), WideString(u"/"));
  WideString destination = target;
  destination.Append(relative);
  return destination;
}

WideString InstallJob::DestinationDirectory(const WideString& destination) {
  const WideString::size_type slash = destination.FindLastOf(u"/");
  if (slash == WideString::npos) return WideString();
  if (slash == 0) return WideString(u"/");
  return WideString(destination, 0, slash);
}

int32_t InstallJob::Percentage(uint64_t j, uint64_t n) {
  return n == 0 ? 100 : static_cast<int32_t>(j * 100u / n);
}

InstallJob::Destination InstallJob::ExamineDestination(const WideString& path,
                                                       const FileTime& entry_time) {
  FileHandle handle = kNoFileHandle;
  ErrorCode code = FileOpen(path, kOpenForUpToDateTest, 0, kFileOpenExisting, &handle,
                            kUpToDateTestAttributes | kFileFlagOpenReparsePoint);
  if (code == kErrorNotFound) return Destination::kAbsent;
  if (code != kSuccess) {
    // A link, or a name that cannot be examined: a link to an up-to-date file stays.
    code = FileOpen(path, kOpenForUpToDateTest, 0, kFileOpenExisting, &handle,
                    kUpToDateTestAttributes);
    if (code != kSuccess) return Destination::kOutOfDate;
  }
  // A directory, a named pipe or a device opens for reading too, but none is an installed
  // file: it is replaced like an old file.
  struct stat64 status;
  const bool is_file =
      fstat64(static_cast<int>(handle), &status) == 0 && S_ISREG(status.st_mode);
  FileClose(handle);
  if (!is_file) return Destination::kOutOfDate;
  // The file's time in whole seconds, in the kit's units, as FileGetTimes gives it.
  const FileTime last_write = FileTimeFromSystemSeconds(static_cast<int64_t>(status.st_mtime));
  return FileTimeValue(last_write) >= FileTimeValue(entry_time) ? Destination::kUpToDate
                                                                : Destination::kOutOfDate;
}

int32_t InstallJob::ReportError(ErrorCode code, int32_t percent) {
  channel_->Post(static_cast<int32_t>(code), LoadText(NarrowString("IDS_INSTALL_ERROR")),
                 percent);
  return static_cast<int32_t>(transaction_.Rollback(code));
}

void InstallJob::PauseAfterFinish() {
  stop_signal_->PauseUnlessRequested(kFinishPauseMicroseconds);
}

int32_t InstallJob::Run(ProgressChannel* channel) {
  channel_ = channel;
  DistributionKit* kit = nullptr;
  WideString target;
  channel->TakeJob(&kit, &target);
  if (kit == nullptr) return ReportError(kErrorInvalidParameter, 0);

  ErrorCode code = transaction_.BeginTransaction(target);
  if (code != kSuccess) return ReportError(code, 0);

  const std::size_t count = kit->EntryCount();
  for (std::size_t j = 0; j < count; ++j) {
    const KitEntry& entry = kit->Entry(j);
    const WideString destination = DestinationPath(target, entry.name);
    const int32_t percent = Percentage(j, count);
    channel->Post(0, destination, percent);
    const Destination found = ExamineDestination(destination, entry.time);
    if (found == Destination::kUpToDate) continue;

    code = found == Destination::kAbsent ? transaction_.NoteNewFile(destination)
                                         : transaction_.BackUpFile(destination);
    if (code != kSuccess) return ReportError(code, percent);
    const WideString directory = DestinationDirectory(destination);
    // A file without a directory part goes into the current directory, which exists.
    if (!directory.Empty()) {
      code = transaction_.CreateDirectoryRecorded(directory);
      if (code != kSuccess) return ReportError(code, percent);
    }
    code = kit->ExtractEntry(j, destination);
    if (code != kSuccess) return ReportError(code, percent);
    if (channel->IsCancelRequested()) {
      return static_cast<int32_t>(transaction_.Rollback(kErrorCancelled));
    }
  }
  transaction_.Commit();
  channel->Post(0, LoadText(NarrowString("IDS_INSTALL_FINISH")), 100);
  PauseAfterFinish();
  return 0;
}
