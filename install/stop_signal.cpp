#include "install/stop_signal.h"

#include <errno.h>
#include <time.h>

StopSignal::StopSignal() : requested_(false) {
  pthread_mutex_init(&mutex_, nullptr);
  // The pause is measured on the monotonic clock, so a change of the wall clock neither
  // stretches nor cuts it.
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&wake_, &attributes);
  pthread_condattr_destroy(&attributes);
}

StopSignal::~StopSignal() {
  pthread_cond_destroy(&wake_);
  pthread_mutex_destroy(&mutex_);
}

void StopSignal::Reset() { requested_.store(false); }

void StopSignal::Request() {
  pthread_mutex_lock(&mutex_);
  requested_.store(true);
  pthread_cond_broadcast(&wake_);
  pthread_mutex_unlock(&mutex_);
}

bool StopSignal::IsRequested() const { return requested_.load(); }

bool StopSignal::PauseUnlessRequested(int64_t microseconds) {
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(microseconds / 1000000);
  deadline.tv_nsec += static_cast<long>(microseconds % 1000000) * 1000;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&mutex_);
  // The flag is tested under the mutex that Request holds while it broadcasts, so a request
  // made after this test cannot slip between the test and the wait.
  while (!requested_.load()) {
    if (pthread_cond_timedwait(&wake_, &mutex_, &deadline) == ETIMEDOUT) break;
  }
  const bool stopped = requested_.load();
  pthread_mutex_unlock(&mutex_);
  return stopped;
}
