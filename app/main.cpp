// The entry point of setup. GLib and GDK threading are initialised before anything else
// (before the string table is used by the run and before GTK itself), then the application
// object does the whole run. The exit status is always 0: failures reach the user only
// through the installer's own messages.

#include <gdk/gdk.h>
#include <glib.h>

#include "app/installer_app.h"

int main(int argc, char** argv) {
#if !GLIB_CHECK_VERSION(2, 32, 0)
  // From GLib 2.32 on the thread system is always initialised.
  g_thread_init(NULL);
#endif
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  gdk_threads_init();
#pragma GCC diagnostic pop

  CInstallerApp app(argc, argv);
  app.Run();
  return 0;
}
