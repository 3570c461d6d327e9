// libFuzzer target: arbitrary bytes as a launcher settings file, read the way the installer
// reads it (ReadKeyValueFile into a settings layer with the add rule) under a UTF-8 locale.
//
// Besides crashes and sanitizer reports it stops on a broken promise of the reader: a pair
// with both key and value empty, a line feed inside a key or value, a key holding "=", more
// decoded units than the file has bytes, or pairs that do not convert back to the very
// bytes of their lines (whatever those bytes are), as a rewrite of the file writes them.
//
//   ./fuzz_settings -max_total_time=30 tools/fuzz_corpus/settings

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/starter_config.h"
#include "text/key_value_file.h"
#include "text/locale_conversions.h"

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

// The bytes of text, a zero unit as a zero byte; aborts when a unit does not convert.
std::string BytesOf(const WideString& text) {
  std::string bytes;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < text.Length() && text[end] != 0) ++end;
    NarrowString piece;
    if (!ToLocaleBytesExact(WideString(text, start, end - start), &piece)) std::abort();
    bytes.append(piece.Data(), piece.Length());
    if (end == text.Length()) return bytes;
    bytes.push_back('\0');
    start = end + 1;
  }
}

// The file's lines as the reader's pairs give them back: an empty line and a line "=" are
// dropped, and a line without "=" gets one.
std::string NormalisedLines(const uint8_t* data, std::size_t size) {
  std::string lines;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line != "=") {
      if (line.find('=') == std::string::npos) line += '=';
      lines += line + '\n';
    }
    start = end + 1;
  }
  return lines;
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
  std::string lines;
  ReadKeyValueFile(wide_path, [&](const WideString& key, const WideString& value) {
                     if (key.Empty() && value.Empty()) std::abort();
                     if (Holds(key, u'\n') || Holds(value, u'\n') || Holds(key, u'=')) std::abort();
                     units += key.Length() + value.Length() + 1;
                     lines += BytesOf(key) + '=' + BytesOf(value) + '\n';
                     layer.Add(key, value);
                   });
  if (units > size + 1) std::abort();
  if (lines != NormalisedLines(data, size)) std::abort();
  return 0;
}
