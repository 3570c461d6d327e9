// The phase trace: where a run's time goes, for measuring the program as its users meet it.
// With SETUP_TRACE unset or empty it is off, and a mark costs one test of a value read once;
// no clock is read and nothing is written. With SETUP_TRACE naming a file (appended to,
// made when missing) or "-" (standard error), each mark writes one line
//
//   setup-trace PID PHASE MILLISECONDS
//
// MILLISECONDS (three decimals) is the time from the process's start to the mark, on
// CLOCK_BOOTTIME. The kernel records no moment of the exec itself: the start is the
// moment the process was created, by the fork that its launcher (a shell, /usr/bin/time,
// Python's subprocess) makes to exec setup at once. The first phase thus holds that exec,
// the dynamic loader's loading and relocating of the libraries and their constructors, up to
// main. The kernel gives the start in clock ticks (/proc/self/stat, 10 ms at 100 ticks a
// second); within its tick it is placed at the moment of the first mark less the time the
// process has run and waited to run so far (/proc/self/schedstat), which is exact unless
// the process slept before that mark (a library read from the disk), and never off by more
// than one tick.
//
// A mark ends a phase. Every line is one write(2), whole, so marks from the installation
// worker and the main thread never mix within a line.

#ifndef APP_PHASE_TRACE_H_
#define APP_PHASE_TRACE_H_

#include <cstdint>

#include "fs/status.h"

class PhaseTrace {
 public:
  // Off: marks nothing.
  PhaseTrace() = default;

  // The trace that destination asks for: off for null or "", standard error for "-", else
  // the file of that name, opened for appending. Fails, leaving *trace off, when the file
  // cannot be opened or the process's start cannot be read.
  static Status Open(const char* destination, PhaseTrace* trace);

  bool on() const { return descriptor_ >= 0; }

  // Writes the line of the phase that ends now; false when it could not be written whole.
  // phase is a short name without white space.
  bool Mark(const char* phase) const;

 private:
  int descriptor_ = -1;
  int64_t process_id_ = 0;
  int64_t origin_ns_ = 0;  // the process's start on CLOCK_BOOTTIME
};

// Marks the end of phase in the process's trace, which SETUP_TRACE chooses at the first mark
// (the first line of main). A trace that cannot be opened is reported once on standard error
// and stays off; a line that cannot be written is lost: the trace never changes a run.
// Safe from any thread.
void TracePhase(const char* phase);

#endif  // APP_PHASE_TRACE_H_
