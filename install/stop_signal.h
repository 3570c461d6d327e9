// StopSignal: a one-way request (false -> true) from the thread that owns the worker to the
// worker, that also wakes the worker from a timed pause.
//
// The flag is an atomic boolean: the worker reads it between runs without any lock. The
// mutex and condition variable exist only for the pause after a finished run, so that a
// stop request ends that pause at once instead of after its full length.

#ifndef INSTALL_STOP_SIGNAL_H_
#define INSTALL_STOP_SIGNAL_H_

#include <pthread.h>

#include <atomic>
#include <cstdint>

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Back to "not requested", for a new worker. Only while no thread waits on the signal.
  void Reset();
  // Sets the request and wakes a pause in progress; returns at once.
  void Request();
  bool IsRequested() const;

  // Pauses for microseconds, or less when a stop is requested before or during the pause.
  // Returns true when the pause ended because of a stop request.
  bool PauseUnlessRequested(int64_t microseconds);

 private:
  std::atomic<bool> requested_;
  pthread_mutex_t mutex_;
  pthread_cond_t wake_;
};

#endif  // INSTALL_STOP_SIGNAL_H_
