// The entry point of setup. GLib and GDK threading are initialised before anything else
// (before the string table is used by the run and before GTK itself), then the application
// object does the whole run. The exit status is 0 unless --exit-status asks for the
// outcome's; a run stopped by a signal without --exit-status ends by that signal once it
// has rolled back, as the caller would see it without the clean stop.
//
// The GDK lock: only this thread ever calls GTK (the installation worker never does), and it
// holds the lock for the whole run; GTK releases it around its own main loops. GTK's own
// timers take the lock when they fire, and the installation loop turns the main loop from
// inside a button handler, where the lock is already held, so the lock is made recursive:
// with GTK's default lock such a timer would wait for itself.

#include <gdk/gdk.h>
#include <glib.h>
#include <signal.h>

#include "app/installer_app.h"
#include "app/phase_trace.h"

namespace {

// The GDK lock of this process (GDK's lock functions take no argument).
GRecMutex gdk_lock;

void EnterGdk() { g_rec_mutex_lock(&gdk_lock); }

void LeaveGdk() { g_rec_mutex_unlock(&gdk_lock); }

}  // namespace

int main(int argc, char** argv) {
  TracePhase("main");
#if !GLIB_CHECK_VERSION(2, 32, 0)
  // From GLib 2.32 on the thread system is always initialised.
  g_thread_init(NULL);
#endif
  g_rec_mutex_init(&gdk_lock);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  gdk_threads_set_lock_functions(EnterGdk, LeaveGdk);
  gdk_threads_init();
  gdk_threads_enter();
#pragma GCC diagnostic pop

  int status;
  int stop_signal;
  bool exit_status_wanted;
  {
    CInstallerApp app(argc, argv);
    status = app.Run();
    stop_signal = app.stop_signal();
    exit_status_wanted = app.exit_status_wanted();
  }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  gdk_threads_leave();
#pragma GCC diagnostic pop
  TracePhase("exit");
  if (stop_signal != 0 && !exit_status_wanted) {
    signal(stop_signal, SIG_DFL);
    raise(stop_signal);
  }
  return status;
}
