// libFuzzer target: arbitrary bytes as a launcher settings file, read the way the installer
// reads it (ReadKeyValueFile into a settings layer with the add rule) under a UTF-8 locale.
//
// Besides crashes and sanitizer reports it stops on a broken promise of the reader: a pair
// with both key and value empty, a line feed inside a key or value, a key holding "=", or
// more decoded units than the file has bytes.
//
//   ./fuzz_settings -max_total_time=30 tools/fuzz_corpus/settings

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config/starter_config.h"
#include "text/key_value_file.h"

namespace {

int SettingsFile() {
  static const int descriptor = memfd_create("fuzz_settings", MFD_CLOEXEC);
  if (descriptor < 0) std::abort();
  return descriptor;
}

bool Holds(const WideString& text, char16_t unit) {
  for (char16_t u : text)
    if (u == unit) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int file = SettingsFile();
  if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", file);
  WideString wide_path;
  for (const char* p = path; *p; ++p) wide_path.Append(static_cast<char16_t>(*p));

  SettingsLayer layer;
  std::size_t units = 0;
  ReadKeyValueFile(wide_path, [&](const WideString& key, const WideString& value) {
                     if (key.Empty() && value.Empty()) std::abort();
                     if (Holds(key, u'\n') || Holds(value, u'\n') || Holds(key, u'=')) std::abort();
                     units += key.Length() + value.Length() + 1;
                     layer.Add(key, value);
                   });
  if (units > size + 1) std::abort();
  return 0;
}
