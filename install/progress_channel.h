// ProgressChannel: the one record the user-interface thread and the installation worker
// share. It carries the job's input (the kit and the target directory) to the worker and the
// job's progress and result (result code, a text, a percentage) back.
//
// Locking: one POSIX unnamed semaphore, process-private, initial value 1, used as a mutex.
// Every operation waits on it once at its start and posts it once on every way out (also
// when copying a string throws); it is held only while fields are copied, never across file
// or shell work, and never nested. Strings travel by value; a copy may share its block with
// the string it came from across threads (the block's reference count is atomic).
//
// Lifecycle: the constructor only zeroes the record; Init must run before any other
// operation. The result code, message and percent are written together by one Post and read
// together by one Read, so a reader never mixes two reports. A reader sees the state at the
// moment it reads; only the observer (SetObserver) hears of a Post as it happens.

#ifndef INSTALL_PROGRESS_CHANNEL_H_
#define INSTALL_PROGRESS_CHANNEL_H_

#include <semaphore.h>

#include <cstdint>

#include "fs/status.h"
#include "fs/target_directory.h"
#include "install/run_observer.h"
#include "text/wide_string.h"

class DistributionKit;

// One report as Read hands it out.
struct ProgressReport {
  int32_t code;        // 0 while the job runs and after it succeeded, else the failing code
  WideString message;  // the destination path, the finish text or the error text
  int32_t percent;     // 0 to 100
  // A failed run whose rollback could not undo everything: the message names the folder
  // that holds what could not be put back, and the template directory is not as it was.
  bool directory_changed = false;
  // A running job's word to show as it is (it waits for another installation into the same
  // directory), not a destination path; code and percent are 0 then.
  bool note = false;
  // What caused a failure: the path and the system's reason; success while none is known.
  Status cause;
};

// Called by Post on the posting thread after the report is stored and the lock is released.
using ProgressObserver = void (*)(void* context, int32_t code, const WideString& message,
                                  int32_t percent);

class ProgressChannel {
 public:
  ProgressChannel();
  // Destroys the semaphore if Init made one; no thread may be using the channel then.
  ~ProgressChannel();
  ProgressChannel(const ProgressChannel&) = delete;
  ProgressChannel& operator=(const ProgressChannel&) = delete;

  // Makes the semaphore (value 1, not shared between processes) on the first call, then
  // empties the message and the target directory.
  void Init();

  // Before a worker starts: cancel request false, result code 0, percent 0, the kit and a
  // copy of target. The message is left as it is.
  void Start(DistributionKit* kit, const TargetDirectory& target);
  // The same for a target given as text: it becomes the TargetDirectory of target, whose
  // text has "/" appended when target is not empty and ends in neither "/" nor "\".
  void Start(DistributionKit* kit, const WideString& target);

  // The kit and a copy of the target directory, for the job at the start of every run.
  void TakeJob(DistributionKit** kit, TargetDirectory* target);
  // The same with the target directory's text.
  void TakeJob(DistributionKit** kit, WideString* target);

  // Whether a cancel request is pending; the job asks before each entry and after each
  // written file, and when it is, rolls back and ends with 1223 without a report. Cleared by
  // Start. A stop signal (SIGINT, SIGTERM, SIGHUP) sets it through RequestCancel; Cancel in
  // the wizard does not (it stops the worker after the run).
  bool IsCancelRequested();
  void RequestCancel();

  // Stores code, message, percent, whether the directory was left changed and the cause of
  // a failure, together.
  void Post(int32_t code, const WideString& message, int32_t percent,
            bool directory_changed = false, const Status& cause = Status());

  // Stores text as a note of the running job (see ProgressReport::note), with code and
  // percent 0. The next Post replaces it.
  void PostNote(const WideString& text);
  // Copies of code, message and percent, taken together.
  ProgressReport Read();

  // observer sees every Post after it is stored, on the posting thread (the user interface
  // uses it to wake its main loop on the final report). Set it before a worker that posts
  // is started (thread creation orders the write before the worker's reads); nullptr
  // removes it.
  void SetObserver(ProgressObserver observer, void* context);

  // The run's observer (install/run_observer.h), or null; set like SetObserver, before the
  // worker starts.
  void SetRunObserver(RunObserver* observer) { run_observer_ = observer; }
  RunObserver* run_observer() const { return run_observer_; }

 private:
  friend class InstallTestAccess;

  // Holds the lock for one scope; the semaphore is posted on every way out.
  class Hold {
   public:
    explicit Hold(ProgressChannel* channel);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    ProgressChannel* channel_;
  };

  sem_t lock_;
  DistributionKit* kit_;
  TargetDirectory target_directory_;
  bool cancel_requested_;
  int32_t result_code_;
  WideString message_;
  int32_t percent_;
  bool directory_changed_;
  bool note_ = false;
  Status cause_;
  bool lock_made_;
  ProgressObserver observer_;
  void* observer_context_;
  RunObserver* run_observer_ = nullptr;
};

#endif  // INSTALL_PROGRESS_CHANNEL_H_
