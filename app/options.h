// The options for unattended runs, read from the same command line as the scan of
// app/command_line.h but independently of it: that scan looks only at an argument's second
// character, so an argument that begins with "--" never selects S or L there, and these
// options change nothing it finds. Every argument is looked at (a null entry ends the
// list), also after an L option, which ends only the other scan.
//
//   --help            the usage text on standard output, then exit 0
//   --version         "setup VERSION" on standard output, then exit 0
//   --exit-status     the exit status tells the outcome (app/run_outcome.h)
//   --target=DIR      the template directory of this run
//   --no-dialogs      no modal message box; every message goes to standard error
//   --dry-run         the checks and the plan of the run; nothing is written
//   --log=FILE        the run's records appended to FILE as JSON Lines
//
// A value is given with "=" and must not be empty; a flag takes none. Any other argument
// that begins with "--" is left to GTK (--display=:1). A wrong command line (a value
// missing, empty or given to a flag) is reported in error; --help and --version still win.

#ifndef APP_OPTIONS_H_
#define APP_OPTIONS_H_

#include "text/narrow_string.h"

struct AutomationOptions {
  bool help = false;
  bool version = false;
  bool exit_status = false;
  bool no_dialogs = false;
  bool dry_run = false;
  bool has_target = false;
  NarrowString target;  // bytes as given, when has_target
  bool has_log = false;
  NarrowString log_path;  // bytes as given, when has_log
  // Empty for a sound command line; otherwise what is wrong with it, for the usage message.
  NarrowString error;
};

// Reads argv[1 .. argc-1] (argv[0] is the program); a null vector gives the defaults.
AutomationOptions ParseAutomationOptions(int argc, const char* const* argv);

// The text of --help: the synopsis, every option on one line, and the exit statuses.
const char* UsageText();

// "setup VERSION", the project's version, for --version and the log.
const char* ProgramVersion();

#endif  // APP_OPTIONS_H_
