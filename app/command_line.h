// The command line and the choice of the language, as pure functions of their inputs so
// that every case can be tried without touching the process's real arguments or locale.
//
// Syntax: an optional first argument "usecwd" (exactly that, case-sensitive, and only in the
// first position) makes the kit be looked for in the current directory. Every later
// argument whose first character is '-' or '/' is an option, selected by its second
// character in any case: S sets silent mode; L takes the rest of the argument as a language
// code and ends the scan, whether the code is known or not. Anything else is ignored and is
// left to GTK (for example --display=:1).
//
// Language: an L code that the StringTable holds (exact, case-sensitive) wins; otherwise the
// first two bytes of the locale name (the whole name when it is shorter); otherwise English,
// number 5, code "en".

#ifndef APP_COMMAND_LINE_H_
#define APP_COMMAND_LINE_H_

#include "text/wide_string.h"

struct StartupOptions {
  bool use_current_directory = false;
  bool silent = false;
  // The StringTable number of the chosen language; 0 while none is chosen.
  int language_number = 0;
  // The code that selected the language; "en" until one does.
  WideString language_code = WideString(u"en");
};

constexpr int kDefaultLanguageNumber = 5;  // English

// Reads argv[1 .. argc-1]. argv[0] is the program; an argc below 2 or a null argument
// vector gives the defaults, and a null entry ends the scan. language_number is set only by
// a known L code.
StartupOptions ParseCommandLine(int argc, const char* const* argv);

// Completes the choice after ParseCommandLine: when options chose no language, the locale
// name (as setlocale(LC_ALL, "") returns it; null when it returned nothing) is tried, then
// English. Returns options with language_number never 0.
StartupOptions ChooseLanguage(const StartupOptions& options, const char* locale_name);

#endif  // APP_COMMAND_LINE_H_
