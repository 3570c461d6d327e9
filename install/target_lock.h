// TargetLock: one installation at a time per template directory.
//
// The lock is flock(2) on the template directory itself, exclusive, held for the whole run.
// A second installer that wants the same directory waits until the first one has ended (its
// run is then usually up to date). A lock of flock(2) ends with the process that holds it,
// so a killed run never leaves a stale lock behind; the next run finds its work folder and
// rolls it back.
//
// The directory is locked through the run's own descriptor of it. While one run waited, the
// run holding the lock may have removed the directory (a failed run removes a template
// directory it made); so once the lock is taken, the path must still name the locked
// directory (not followed), or the caller makes the directory anew and locks again.
//
// File systems that have no such locks (some network file systems refuse flock(2) on a
// directory) do not stop an installation: the lock is then not held (Held() is false), and
// the run must not take over any work folder whose run it cannot prove ended
// (install/run_owner.h).

#ifndef INSTALL_TARGET_LOCK_H_
#define INSTALL_TARGET_LOCK_H_

#include <cstdint>
#include <functional>

#include "fs/error_codes.h"
#include "text/narrow_string.h"

class StopSignal;

class TargetLock {
 public:
  enum class Outcome {
    kLocked,    // the lock is held (or the file system has none)
    kBusy,      // another process holds it and waiting was not wanted
    kStopped,   // a stop request ended the wait
    kGone,      // the directory was removed or replaced while this one waited: make it again
    kFailed,    // the directory cannot be opened; see Code
  };

  TargetLock() = default;
  ~TargetLock();
  TargetLock(const TargetLock&) = delete;
  TargetLock& operator=(const TargetLock&) = delete;

  // Locks the directory open as root (the descriptor stays the caller's), which was opened
  // from path. stop null: do not wait. Otherwise waits, looking at stop between tries, and
  // calls on_wait (when given) once, as the wait begins.
  Outcome Acquire(int root, const NarrowString& path, StopSignal* stop,
                  const std::function<void()>& on_wait = nullptr);
  void Release();

  // Whether the lock is held: false where the file system has no locks.
  bool Held() const { return descriptor_ >= 0 && held_; }
  // The code of a kFailed acquisition.
  ErrorCode Code() const { return code_; }

 private:
  int descriptor_ = -1;
  bool held_ = false;
  ErrorCode code_ = kSuccess;
};

// The process that holds a flock(2) lock on the directory open as directory, as the kernel
// lists it in /proc/locks; 0 when none is listed.
uint32_t LockHolderPid(int directory);

#endif  // INSTALL_TARGET_LOCK_H_
