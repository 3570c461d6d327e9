// StopSignalWatches: SIGINT, SIGTERM and SIGHUP turned into calls from the main loop while an
// installation runs, so that a signal at any moment of the run, a second one during its
// rollback included, is a request to stop and never ends the process under the run.
//
// A signal the caller ignores (nohup, a background job's SIGINT) stays ignored. Remove gives
// each watched signal its own action again, whatever GLib leaves behind.

#ifndef UI_STOP_SIGNAL_WATCHES_H_
#define UI_STOP_SIGNAL_WATCHES_H_

#include <glib.h>

class StopSignalWatches {
 public:
  // Called from the main loop with the number of the signal that arrived.
  using Handler = void (*)(void* data, int signal_number);

  StopSignalWatches() = default;
  // GLib holds pointers to the watches: they neither move nor outlive their removal.
  StopSignalWatches(const StopSignalWatches&) = delete;
  StopSignalWatches& operator=(const StopSignalWatches&) = delete;
  ~StopSignalWatches() { Remove(false); }

  // Watches every stop signal that is not ignored, calling handler(data, number).
  void Install(Handler handler, void* data);
  // Ends the watches. after_stop: a stop has been asked for, the program ends by it, and
  // further stop signals are ignored; otherwise they have their default action again.
  void Remove(bool after_stop);

  // "SIGINT", "SIGTERM", "SIGHUP" ("signal" for any other).
  static const char* Name(int signal_number);

 private:
  struct Watch {
    StopSignalWatches* owner;
    int number;
    guint source;
  };
  static gboolean OnSignal(gpointer watch);

  Handler handler_ = nullptr;
  void* data_ = nullptr;
  Watch watches_[3] = {};
};

#endif  // UI_STOP_SIGNAL_WATCHES_H_
