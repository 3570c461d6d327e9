#include "app/options.h"

#include <cstring>

#ifndef SETUP_VERSION
#error "SETUP_VERSION is defined by the build"
#endif

namespace {

enum class Kind { kFlag, kValue };

struct OptionName {
  const char* name;  // without the leading "--"
  Kind kind;
};

constexpr OptionName kOptions[] = {
    {"help", Kind::kFlag},        {"version", Kind::kFlag}, {"exit-status", Kind::kFlag},
    {"no-dialogs", Kind::kFlag},  {"dry-run", Kind::kFlag}, {"target", Kind::kValue},
    {"log", Kind::kValue},
};

void SetError(AutomationOptions* options, const char* argument, const char* what) {
  // The first fault is the one reported.
  if (!options->error.Empty()) return;
  options->error = NarrowString(argument);
  options->error.Append(": ");
  options->error.Append(what);
}

void Apply(AutomationOptions* options, const char* name, const char* value) {
  if (std::strcmp(name, "help") == 0) options->help = true;
  if (std::strcmp(name, "version") == 0) options->version = true;
  if (std::strcmp(name, "exit-status") == 0) options->exit_status = true;
  if (std::strcmp(name, "no-dialogs") == 0) options->no_dialogs = true;
  if (std::strcmp(name, "dry-run") == 0) options->dry_run = true;
  if (std::strcmp(name, "target") == 0) {
    options->has_target = true;
    options->target = NarrowString(value);
  }
  if (std::strcmp(name, "log") == 0) {
    options->has_log = true;
    options->log_path = NarrowString(value);
  }
}

}  // namespace

AutomationOptions ParseAutomationOptions(int argc, const char* const* argv) {
  AutomationOptions options;
  if (argv == nullptr) return options;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const char* argument = argv[i];
    if (std::strncmp(argument, "--", 2) != 0) continue;
    const char* name = argument + 2;
    const char* equals = std::strchr(name, '=');
    const std::size_t length = equals != nullptr ? static_cast<std::size_t>(equals - name)
                                                 : std::strlen(name);
    for (const OptionName& option : kOptions) {
      if (std::strlen(option.name) != length || std::strncmp(option.name, name, length) != 0) {
        continue;
      }
      if (option.kind == Kind::kFlag && equals != nullptr) {
        SetError(&options, argument, "this option takes no value");
      } else if (option.kind == Kind::kValue && (equals == nullptr || equals[1] == '\0')) {
        SetError(&options, argument, "a value is missing (give it as --NAME=VALUE)");
      } else {
        Apply(&options, option.name, equals != nullptr ? equals + 1 : nullptr);
      }
      break;
    }
  }
  return options;
}

const char* UsageText() {
  return "Usage: setup [usecwd] [-S] [-Lcode] [OPTION]... [GTK option]...\n"
         "Install a product's configuration templates from the kit tavlo5.efd.\n"
         "\n"
         "  usecwd          look for the kit in the current directory (first argument)\n"
         "  -S, /S          install silently into the default template directory\n"
         "  -Lcode, /Lcode  texts in the language of the code (such as de); -S before it\n"
         "  --target=DIR    install into DIR (relative to the current directory; ~ home)\n"
         "  --exit-status   make the exit status tell the outcome (see below)\n"
         "  --no-dialogs    never show a message box; messages go to standard error\n"
         "  --dry-run       make the checks and show what a run would do; write nothing\n"
         "  --log=FILE      append the run's records to FILE as JSON Lines\n"
         "  --help          show this text and exit\n"
         "  --version       show the version and exit\n"
         "\n"
         "Exit status with --exit-status (without it, always 0):\n"
         "   0  installed, or everything already up to date\n"
         "   1  the installation failed; the template directory is as it was\n"
         "   2  the installation failed and something could not be put back\n"
         "   3  the checks before installing failed; nothing was written\n"
         "   4  cancelled, by the user or by SIGINT, SIGTERM or SIGHUP\n"
         "  64  a wrong command line\n"
         "\n"
         "See setup(1) for the log's fields and examples.\n";
}

const char* ProgramVersion() { return "setup " SETUP_VERSION; }
