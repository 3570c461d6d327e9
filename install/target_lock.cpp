#include "install/target_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fs/system_error.h"
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

uint32_t LockHolderPid(int directory) {
  struct stat64 status;
  if (fstat64(directory, &status) != 0) return 0;
  FILE* locks = std::fopen("/proc/locks", "re");
  if (locks == nullptr) return 0;
  // "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF": the holder, then the device as
  // major:minor in hexadecimal and the inode.
  char line[256];
  uint32_t holder = 0;
  while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
    char kind[16], mode[16];
    unsigned pid = 0, major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line, "%*d: %15s %*s %15s %u %x:%x:%llu", kind, mode, &pid, &major, &minor,
                    &inode) != 6) {
      continue;
    }
    if (std::strcmp(kind, "FLOCK") == 0 && major == major(status.st_dev) &&
        minor == minor(status.st_dev) && inode == static_cast<unsigned long long>(status.st_ino)) {
      holder = pid;
    }
  }
  std::fclose(locks);
  return holder;
}
