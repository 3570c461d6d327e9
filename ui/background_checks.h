// BackgroundChecks: the pre-installation checks (finding and inflating the kit, reading the
// settings) on a thread of their own, while the user-interface thread initialises GTK and
// builds the window, which it shows only once the checks have passed.
//
// The checks touch nothing of GTK and nothing the user-interface thread uses before Wait
// returns: whatever they fill in belongs to them until then. Start runs them on a new thread;
// Wait runs them on the calling thread when they were not started, else waits for the
// thread. The checks run once either way. Join (and destroying the object) waits for a
// started thread without running checks that were never started, so that the thread never
// outlives what it fills in.

#ifndef UI_BACKGROUND_CHECKS_H_
#define UI_BACKGROUND_CHECKS_H_

#include <functional>
#include <thread>

class BackgroundChecks {
 public:
  BackgroundChecks() = default;
  ~BackgroundChecks();
  BackgroundChecks(const BackgroundChecks&) = delete;
  BackgroundChecks& operator=(const BackgroundChecks&) = delete;

  // Sets the checks; before Start or Wait.
  void Set(std::function<void()> checks) { checks_ = std::move(checks); }
  bool HasChecks() const { return static_cast<bool>(checks_); }
  // Starts them on a new thread; false (and nothing started) when no thread can be made,
  // and Wait then runs them.
  bool Start();
  // Afterwards the checks have run (see above).
  void Wait();
  void Join();

 private:
  std::function<void()> checks_;
  std::thread thread_;
  bool done_ = false;
};

#endif  // UI_BACKGROUND_CHECKS_H_
