// CInstallerApp: the application object. It lives on main()'s stack for the whole run and
// carries the start-up sequence: read the command line, choose the language and make it
// process-wide, look up the caption, then hand everything to the installer dialog and run it.

#ifndef APP_INSTALLER_APP_H_
#define APP_INSTALLER_APP_H_

#include "app/command_line.h"
#include "text/wide_string.h"

class CInstallerApp {
 public:
  // argv must stay valid for the object's lifetime (main()'s own vector does).
  CInstallerApp(int argument_count, char** argument_vector);

  // The whole run: --help, --version and a wrong command line are answered first, without
  // a display, a kit or a window; otherwise PrepareStartup, then the installer dialog is
  // constructed, run and destroyed (its worker thread ended with it). Returns the exit
  // status: 0, or with --exit-status the outcome's (app/run_outcome.h), 64 for a wrong
  // command line.
  int Run();

  // The signal that stopped the installation, or 0. Without --exit-status the program ends
  // by that signal once everything is rolled back, as it would have without the clean stop.
  int stop_signal() const { return stop_signal_; }
  bool exit_status_wanted() const { return exit_status_wanted_; }

  // The first steps of Run: reads the command line, chooses the language (the L option,
  // else the locale, else English) and makes it process-wide, and loads the caption.
  // Returns the options the dialog is constructed with.
  StartupOptions PrepareStartup();

 private:
  int argument_count_;
  char** argument_vector_;
  int language_number_ = 0;  // 0 until Run chooses one
  WideString caption_;       // IDR_MAINFRAME in the chosen language; the window title
  int stop_signal_ = 0;
  bool exit_status_wanted_ = false;
};

#endif  // APP_INSTALLER_APP_H_
