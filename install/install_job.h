// InstallJob: one installation run, on the worker thread.
//
// Run takes the kit and the target directory from the channel and begins a transaction
// (install/transaction.h): the directory is made if missing, locked against other
// installers, and a run that was killed there before is rolled back first (standard error
// says so). Every entry's path (made when the kit was opened, kit/entry_path.h) is then
// encoded once; a path that the locale cannot encode or that lies in the run's work folder
// fails the run before anything is written. For entry j of N the run posts the destination
// path with j * 100 / N percent (also for entries that turn out to be up to date), skips
// the entry when the file on disk is up to date, makes the destination directory, writes
// the entry under a temporary name, and puts it in place (keeping the file it replaces in
// the backup). A stretch of new files in folders the run made is written by two threads,
// with the same reports in the same order (install/own_file_writers.h). The first failure
// rolls back and then posts the "Installation error" text
// with the failing code and the entry's percentage; a rollback that could not put
// everything back posts instead a text that names where the originals are kept, with the
// directory marked changed; a failure report carries its cause (the path and the system's
// error, fs/status.h). A cancel request found after a written or an up-to-date entry rolls
// back and ends the run with 1223 without a report (unless the rollback left something
// behind). The channel's run observer, if any, hears of every entry done and of how a
// rollback ended (install/run_observer.h). When every entry is done the run commits, posts
// the finish text with 100, and pauses one second before it returns 0; a stop request cuts
// that pause short.
//
// A job is made fresh for every run and holds that run's transaction.

#ifndef INSTALL_INSTALL_JOB_H_
#define INSTALL_INSTALL_JOB_H_

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_time.h"
#include "fs/status.h"
#include "fs/target_directory.h"
#include "text/narrow_string.h"
#include "install/progress_channel.h"
#include "install/stop_signal.h"
#include "install/transaction.h"
#include "text/wide_string.h"

// The pause after the finish report.
constexpr int64_t kFinishPauseMicroseconds = 1000000;

class DistributionKit;
class EntryPath;
class OwnFileWriters;

class InstallJob {
 public:
  // stop_signal (required) cuts the pause after the finish report short, and ends a wait
  // for the template directory's lock (the run then ends with 1223, having done nothing).
  explicit InstallJob(StopSignal* stop_signal);
  InstallJob(const InstallJob&) = delete;
  InstallJob& operator=(const InstallJob&) = delete;

  // One run: 0 when every entry is installed and the transaction committed; otherwise the
  // code of the failing step, or 1223 when a cancel request ended the run. A channel
  // without a kit fails with 87 at percent 0.
  int32_t Run(ProgressChannel* channel);

  // Rolls back, then posts code with the text of IDS_INSTALL_ERROR (or, when the rollback
  // left originals behind, the text that says where), percent and cause; returns code.
  int32_t ReportError(ErrorCode code, int32_t percent, const Status& cause = Status());

  // What is at an entry's destination.
  enum class Destination {
    kAbsent,     // nothing, not even a link: the run creates the file
    kOutOfDate,  // something that is to be replaced (or that cannot be examined)
    kUpToDate,   // a file that can stay
    kDirectory,  // a directory: never replaced, the run fails
  };

  // A file can stay when it is a regular file this process could open for reading (a link
  // is followed) and its last-write time in whole seconds is not earlier than entry_time. A
  // newer file is kept, one of the same time skipped; an entry time with a fraction of a
  // second is always later than the file's whole-second time. A directory (not a link to
  // one) is kDirectory; anything else that is no such file is out of date. Nothing is
  // opened: a status query of the name answers, and one of what a link names; so a named
  // pipe cannot hold the run, and "not found" also answers whether anything must be backed
  // up. path is bytes.
  static Destination ExamineDestination(const NarrowString& path, const FileTime& entry_time);
  // The same for the name in the folder open as folder (or AT_FDCWD), for a process whose
  // effective user id is user.
  static Destination ExamineDestination(int folder, const char* name, const FileTime& entry_time,
                                        uid_t user);

  // The destination of an entry as the progress line shows it: the target directory's text
  // followed by the entry's path.
  static WideString DestinationPath(const TargetDirectory& target, const EntryPath& path);
  // j * 100 / n in unsigned 64-bit arithmetic, rounded down.
  static int32_t Percentage(uint64_t j, uint64_t n);

  // The text posted when a rollback could not put everything back: IDS_ERROR_RESTORE, a
  // line break and the folder that holds what is left.
  static WideString RestoreFailureText(const NarrowString& folder);
  // The message for a directory whose work folder a run refused: kept originals, or a
  // folder that cannot be trusted.
  static WideString RefusalText(const Transaction& transaction);

 private:
  friend class InstallTestAccess;

  void PauseAfterFinish();
  // Rolls back a run that a cancel request ends at entry percent; returns 1223.
  int32_t EndCancelled(int32_t percent);
  // Tells the channel's run observer, if there is one, how the rollback ended.
  void TellRolledBack();
  // The relative paths of every entry, in table order, and for each whether an earlier
  // entry names the same path; false when a name cannot be encoded or lies in the work
  // folder, with *failing the index of that entry.
  static bool EntryPaths(const DistributionKit& kit, std::vector<NarrowString>* paths,
                         std::vector<bool>* repeated, std::size_t* failing);
  // What is at relative, looked up in its folder; repeated: an earlier entry names it too.
  Destination Examine(const NarrowString& relative, bool repeated, const FileTime& entry_time,
                      uid_t user);
  // Writes the stretch of new files from entry first on that go into folders the run made
  // (install/own_file_writers.h), when it holds more than one. Returns true when the run has
  // ended there (a failure, a cancel request), with *ended its code; otherwise *end is the
  // entry after the stretch (first when there was none to write).
  bool WriteOwnStretch(DistributionKit* kit, const TargetDirectory& target,
                       const std::vector<NarrowString>& relatives,
                       const std::vector<bool>& repeated, std::size_t first,
                       OwnFileWriters* writers, std::size_t* end, int32_t* ended);
  // Writes entry j to relative; *found is what ExamineDestination found there.
  ErrorCode InstallEntry(DistributionKit* kit, std::size_t j, const NarrowString& relative,
                         Destination found);

  Transaction transaction_;
  ProgressChannel* channel_;
  StopSignal* stop_signal_;
};

#endif  // INSTALL_INSTALL_JOB_H_
