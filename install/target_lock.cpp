#include "install/target_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/file_layer.h"
#include "install/stop_signal.h"

namespace {

// How long a waiting run sleeps between two tries for the lock.
constexpr int64_t kLockRetryMicroseconds = 20000;

bool SameNode(const struct stat64& a, const struct stat64& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

TargetLock::~TargetLock() { Release(); }

void TargetLock::Release() {
  if (descriptor_ >= 0) {
    if (held_) flock(descriptor_, LOCK_UN);
    close(descriptor_);
  }
  descriptor_ = -1;
  held_ = false;
}

TargetLock::Outcome TargetLock::Acquire(int root, const NarrowString& path, StopSignal* stop,
                                        const std::function<void()>& on_wait) {
  Release();
  code_ = kSuccess;
  // A descriptor of the lock's own: the lock goes with it, whatever the caller does with
  // root.
  descriptor_ = fcntl(root, F_DUPFD_CLOEXEC, 0);
  if (descriptor_ < 0) {
    code_ = ErrorCodeFromErrno(errno);
    return Outcome::kFailed;
  }
  bool told = false;
  for (;;) {
    if (flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) break;  // no locks on this file system: go on unlocked
    if (stop == nullptr) {
      Release();
      return Outcome::kBusy;
    }
    if (!told && on_wait) on_wait();
    told = true;
    if (stop->PauseUnlessRequested(kLockRetryMicroseconds)) {
      Release();
      return Outcome::kStopped;
    }
  }
  struct stat64 locked, named;
  if (fstat64(descriptor_, &locked) != 0 || lstat64(path.CStr(), &named) != 0 ||
      !SameNode(locked, named)) {
    Release();
    return Outcome::kGone;
  }
  return Outcome::kLocked;
}
