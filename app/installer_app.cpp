#include "app/installer_app.h"

#include <clocale>
#include <cstdio>

#include "app/options.h"
#include "app/run_outcome.h"
#include "app/string_table.h"
#include "text/locale_conversions.h"
#include "text/narrow_string.h"
#include "ui/installer_dlg.h"

CInstallerApp::CInstallerApp(int argument_count, char** argument_vector)
    : argument_count_(argument_count), argument_vector_(argument_vector) {}

StartupOptions CInstallerApp::PrepareStartup() {
  StartupOptions options = ParseCommandLine(argument_count_, argument_vector_);
  // The locale is consulted only when no L option chose the language.
  const char* locale_name =
      options.language_number == 0 ? std::setlocale(LC_ALL, "") : nullptr;
  options = ChooseLanguage(options, locale_name);
  language_number_ = options.language_number;
  SetCurrentLanguage(language_number_);
  caption_ = LoadText(NarrowString("IDR_MAINFRAME"));
  return options;
}

int CInstallerApp::Run() {
  const AutomationOptions automation = ParseAutomationOptions(argument_count_, argument_vector_);
  exit_status_wanted_ = automation.exit_status;
  if (automation.help) {
    std::fputs(UsageText(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (automation.version) {
    std::printf("%s\n", ProgramVersion());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!automation.error.Empty()) {
    std::fprintf(stderr, "setup: %s\nTry 'setup --help' for the options.\n",
                 automation.error.CStr());
    return automation.exit_status ? kExitStatusUsage : 0;
  }
  const StartupOptions options = PrepareStartup();
  CInstallerDlg dialog(argument_count_, argument_vector_, options.silent,
                       ToLocaleBytes(caption_), options.language_code,
                       options.use_current_directory);
  dialog.SetAutomation(automation);
  dialog.Run();
  stop_signal_ = dialog.stop_signal();
  return automation.exit_status ? ExitStatusOf(dialog.outcome()) : 0;
}
