#include "app/command_line.h"

#include <cstring>

#include "app/string_table.h"
#include "text/locale_conversions.h"
#include "text/narrow_string.h"

namespace {

bool IsOption(const char* argument) { return argument[0] == '-' || argument[0] == '/'; }

// The option letter in upper case; ASCII only, whatever the process locale folds.
char OptionLetter(const char* argument) {
  const char letter = argument[1];
  return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

}  // namespace

StartupOptions ParseCommandLine(int argc, const char* const* argv) {
  StartupOptions options;
  if (argv == nullptr || argc < 2) return options;
  int first = 1;
  if (argv[1] != nullptr && std::strcmp(argv[1], "usecwd") == 0) {
    options.use_current_directory = true;
    first = 2;
  }
  for (int i = first; i < argc && argv[i] != nullptr; ++i) {
    const char* argument = argv[i];
    if (!IsOption(argument) || argument[1] == '\0') continue;
    const char letter = OptionLetter(argument);
    if (letter == 'S') {
      options.silent = true;
    } else if (letter == 'L') {
      const NarrowString code(argument + 2);
      const int number = FindLanguage(code);
      if (number != 0) {
        options.language_number = number;
        options.language_code = FromLocaleBytes(code);
      }
      break;
    }
  }
  return options;
}

StartupOptions ChooseLanguage(const StartupOptions& options, const char* locale_name) {
  StartupOptions chosen = options;
  if (chosen.language_number == 0 && locale_name != nullptr) {
    // Copied before anything else: the name may live in setlocale's own storage, which the
    // next conversion (it calls setlocale) may overwrite.
    const NarrowString code(locale_name, strnlen(locale_name, 2));
    const int number = FindLanguage(code);
    if (number != 0) {
      chosen.language_number = number;
      chosen.language_code = FromLocaleBytes(code);
    }
  }
  if (chosen.language_number == 0) chosen.language_number = kDefaultLanguageNumber;
  return chosen;
}
