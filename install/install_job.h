// InstallJob: one installation run, on the worker thread.
//
// Run takes the kit and the target directory from the channel, opens a transaction and walks
// the kit's file table in order. For entry j of N it posts the destination path with
// j * 100 / N percent (also for entries that turn out to be up to date), skips the entry
// when the file on disk is up to date, otherwise prepares the path (backs up the file there,
// or records that the run creates it), makes the destination directory and copies the entry
// out of the kit. The first failure posts the "Installation error" text with the failing
// code and the entry's percentage, then rolls back. A cancel request found after a written
// file rolls back and ends the run with 1223 without a report. When every entry is done the
// backup is deleted, the finish text is posted with 100, and the run pauses one second
// before it returns 0; a stop request cuts that pause short.
//
// A job is made fresh for every run and holds that run's transaction records.

#ifndef INSTALL_INSTALL_JOB_H_
#define INSTALL_INSTALL_JOB_H_

#include <cstdint>

#include "fs/error_codes.h"
#include "fs/file_layer.h"
#include "install/progress_channel.h"
#include "install/stop_signal.h"
#include "install/transaction.h"
#include "text/wide_string.h"

// The pause after the finish report.
constexpr int64_t kFinishPauseMicroseconds = 1000000;

class InstallJob {
 public:
  // stop_signal (required) cuts the pause after the finish report short.
  explicit InstallJob(StopSignal* stop_signal);
  InstallJob(const InstallJob&) = delete;
  InstallJob& operator=(const InstallJob&) = delete;

  // One run: 0 when every entry is installed and the transaction committed; otherwise the
  // code of the failing step, or 1223 when a cancel request ended the run. A channel
  // without a kit fails with 87 at percent 0.
  int32_t Run(ProgressChannel* channel);

  // Posts code with the text of IDS_INSTALL_ERROR and percent, then rolls back; returns
  // code.
  int32_t ReportError(ErrorCode code, int32_t percent);

  // What is at an entry's destination.
  enum class Destination {
    kAbsent,     // nothing, not even a link: the run creates the file
    kOutOfDate,  // something that is to be replaced (or that cannot be examined)
    kUpToDate,   // a file that can stay
  };

  // A file can stay when it opens for reading (a link is followed), is a regular file, and
  // its last-write time in whole seconds is not earlier than entry_time. A newer file is
  // kept, one of the same time skipped; an entry time with a fraction of a second is always
  // later than the file's whole-second time. A directory, a named pipe or a device is out
  // of date, and the open does not wait on a pipe. The first open does not follow a link,
  // so that its "not found" also answers whether anything must be backed up: a fresh
  // installation looks each path up once before writing it, not twice.
  static Destination ExamineDestination(const WideString& path, const FileTime& entry_time);

  // The destination of an entry: target directory + name with every "\" read as "/".
  static WideString DestinationPath(const WideString& target, const WideString& name);
  // The directory an entry's file goes into: the destination path up to its last "/"
  // ("/" for a file directly under the root); empty when the path has no "/".
  static WideString DestinationDirectory(const WideString& destination);
  // j * 100 / n in unsigned 64-bit arithmetic, rounded down.
  static int32_t Percentage(uint64_t j, uint64_t n);

  const Transaction& transactions() const { return transaction_; }

 private:
  void PauseAfterFinish();

  Transaction transaction_;
  ProgressChannel* channel_;
  StopSignal* stop_signal_;
};

#endif  // INSTALL_INSTALL_JOB_H_
