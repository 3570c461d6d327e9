// libFuzzer target: arbitrary bytes as a command line and a locale name. The input is cut
// at zero bytes: the first piece is the locale name, the rest are the arguments after the
// program name.
//
// Besides crashes and sanitizer reports it stops on a broken promise of the parser: a
// language number that is not the table's number for the language code, no language at
// all, or "usecwd" taken from anywhere but the first argument.
//
//   ./fuzz_command_line -max_total_time=30 tools/fuzz_corpus/command_line

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/string_table.h"
#include "text/locale_conversions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size && pieces.size() < 32; ++i) {
    if (data[i] == 0)
      pieces.emplace_back();
    else
      pieces.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<const char*> argv{"setup"};
  for (size_t i = 1; i < pieces.size(); ++i) argv.push_back(pieces[i].c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  StartupOptions parsed = ParseCommandLine(argc, argv.data());
  if (parsed.use_current_directory && (argc < 2 || std::strcmp(argv[1], "usecwd") != 0))
    std::abort();
  StartupOptions chosen = ChooseLanguage(parsed, pieces[0].c_str());
  if (chosen.language_number == 0) std::abort();
  // Whatever chose it (option, locale or the English default), the code names the number.
  if (FindLanguage(ToLocaleBytes(chosen.language_code)) != chosen.language_number) std::abort();
  return 0;
}
