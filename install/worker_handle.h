// WorkerHandle: how the user-interface thread starts the installation worker, asks it to
// stop, and waits for it.
//
// The worker (WorkerMain) runs one InstallJob after another on the handle's channel: it ends
// when a run fails or is cancelled, or when a stop has been requested by the time a run
// returns. A stop request never interrupts a run; it only ends the one-second pause after
// a finish report early and prevents further runs.
//
// The worker holds pointers to the channel and, through it, the kit: the owner of those
// must request a stop and Join before destroying them. The destructor does the same as a
// last resort. All operations are for the owning thread; HasEnded may be polled from it
// while the worker runs.

#ifndef INSTALL_WORKER_HANDLE_H_
#define INSTALL_WORKER_HANDLE_H_

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "install/progress_channel.h"
#include "install/stop_signal.h"

class WorkerHandle {
 public:
  WorkerHandle();
  // Requests a stop and joins a worker that is still joinable.
  ~WorkerHandle();
  WorkerHandle(const WorkerHandle&) = delete;
  WorkerHandle& operator=(const WorkerHandle&) = delete;

  // Stop flag false, creation result -1, then a joinable thread with default attributes
  // running WorkerMain(this). A worker of an earlier Start that was not joined is first
  // stopped and joined, so that two workers never share the channel.
  void Start(ProgressChannel* channel);

  // Sets the stop flag (one-way) and wakes the pause after a finish report; returns at once.
  void RequestStop();

  // Waits for the thread if one was created and not yet joined; safe to call twice and when
  // none was started.
  void Join();

  // True when no thread was started or WorkerMain has returned.
  bool HasEnded() const;

  // -1 until a creation was attempted, then pthread_create's result (0 = running).
  int creation_result() const { return creation_result_; }

 private:
  friend void* WorkerMain(void* handle);
  // Tests look at the runs finished (install/install_test_access.h).
  friend class InstallTestAccess;

  ProgressChannel* channel_;
  StopSignal stop_;
  pthread_t thread_;
  int creation_result_;
  bool joinable_;
  std::atomic<bool> ended_;
  // The runs finished since the last Start, and the last one's result.
  std::atomic<uint32_t> completed_runs_;
  std::atomic<int32_t> last_run_result_;
};

// The worker's thread function; handle is the WorkerHandle. Returns null in every case.
void* WorkerMain(void* handle);

#endif  // INSTALL_WORKER_HANDLE_H_
