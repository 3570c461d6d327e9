#include "app/phase_trace.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t BootTimeNow() {
  struct timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

// The whole of a small /proc file, NUL-terminated; false when it cannot be read.
bool ReadProcFile(const char* path, char* buffer, std::size_t size) {
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  std::size_t length = 0;
  while (length + 1 < size) {
    const ssize_t got = read(descriptor, buffer + length, size - 1 - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
  }
  const int saved = errno;
  close(descriptor);
  errno = saved;
  buffer[length] = '\0';
  return length > 0;
}

// The process's start in clock ticks since boot: the 22nd field of /proc/self/stat, the
// 20th after the command name, which ends at the last ")" (the name may hold anything).
bool StartTicks(int64_t* ticks) {
  char stat[1024];
  if (!ReadProcFile("/proc/self/stat", stat, sizeof stat)) return false;
  const char* field = std::strrchr(stat, ')');
  if (field == nullptr) return false;
  for (int skipped = 0; skipped < 20; ++skipped) {
    field = std::strchr(field + 1, ' ');
    if (field == nullptr) return false;
  }
  char* end = nullptr;
  const long long value = std::strtoll(field + 1, &end, 10);
  if (end == field + 1 || value < 0) return false;
  *ticks = value;
  return true;
}

// The time the process has spent on a processor and waiting in the run queue for one; 0
// where the kernel does not keep it.
int64_t RunAndWaitNanoseconds() {
  char schedstat[128];
  if (!ReadProcFile("/proc/self/schedstat", schedstat, sizeof schedstat)) return 0;
  long long run = 0;
  long long wait = 0;
  if (std::sscanf(schedstat, "%lld %lld", &run, &wait) != 2 || run < 0 || wait < 0) return 0;
  return run + wait;
}

// The process's start on CLOCK_BOOTTIME (see the header): the latest moment it can have
// started, kept within the tick the kernel names.
bool ProcessOrigin(int64_t* origin_ns) {
  int64_t ticks = 0;
  const long per_second = sysconf(_SC_CLK_TCK);
  if (per_second <= 0 || !StartTicks(&ticks)) return false;
  const int64_t tick_ns = kNanosecondsPerSecond / per_second;
  const int64_t earliest = ticks * tick_ns;
  int64_t latest = BootTimeNow() - RunAndWaitNanoseconds();
  if (latest > earliest + tick_ns) latest = earliest + tick_ns;
  *origin_ns = latest < earliest ? earliest : latest;
  return true;
}

PhaseTrace ProcessTrace() {
  PhaseTrace trace;
  const char* destination = std::getenv("SETUP_TRACE");
  const Status opened = PhaseTrace::Open(destination, &trace);
  if (!opened.ok()) {
    std::fprintf(stderr, "setup: the phase trace (SETUP_TRACE) is off: %s\n",
                 opened.ToString().CStr());
  }
  return trace;
}

}  // namespace

Status PhaseTrace::Open(const char* destination, PhaseTrace* trace) {
  *trace = PhaseTrace();
  if (destination == nullptr || destination[0] == '\0') return Status();
  PhaseTrace opened;
  opened.process_id_ = static_cast<int64_t>(getpid());
  if (!ProcessOrigin(&opened.origin_ns_)) {
    return Status::Failure(kErrorNotSupported, NarrowString("/proc/self/stat"),
                           NarrowString("the process's start time cannot be read"));
  }
  if (std::strcmp(destination, "-") == 0) {
    opened.descriptor_ = STDERR_FILENO;
  } else {
    // Never handed on to a program the run starts (the description document's viewer).
    opened.descriptor_ = open(destination, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (opened.descriptor_ < 0) return Status::FromErrno(errno, NarrowString(destination));
  }
  *trace = opened;
  return Status();
}

bool PhaseTrace::Mark(const char* phase) const {
  if (descriptor_ < 0) return false;
  const int64_t elapsed_us = (BootTimeNow() - origin_ns_) / 1000;
  char line[160];
  const int length = std::snprintf(line, sizeof line, "setup-trace %lld %s %lld.%03lld\n",
                                   static_cast<long long>(process_id_), phase,
                                   static_cast<long long>(elapsed_us / 1000),
                                   static_cast<long long>(elapsed_us % 1000));
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof line) return false;
  // One write: an interrupted or short one is not completed by a second, which could put
  // another thread's line inside this one.
  return write(descriptor_, line, static_cast<std::size_t>(length)) == length;
}

void TracePhase(const char* phase) {
  // Chosen once, at the first mark, and never changed: every later mark reads it only.
  static const PhaseTrace trace = ProcessTrace();
  if (!trace.on()) return;
  static_cast<void>(trace.Mark(phase));
}
