#include "text/locale_conversions.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <strings.h>
#include <unistd.h>

namespace {

// setlocale changes process-wide state that the conversion functions read. Both threads
// convert (file names on the worker, texts on the user-interface thread), so a conversion
// and the locale setting before it run as one step under this lock.
std::mutex& LocaleMutex() {
  static std::mutex mutex;
  return mutex;
}

// True for an environment entry ("NAME=value") that setlocale(LC_ALL, "") may read: LC_ALL
// and the LC_ variable of each category, LANG, and LOCPATH, where locale data is looked for.
bool IsLocaleEntry(const char* entry) {
  if (entry[0] != 'L') return false;
  return std::strncmp(entry, "LC_", 3) == 0 || std::strncmp(entry, "LANG=", 5) == 0 ||
         std::strncmp(entry, "LOCPATH=", 8) == 0;
}

// What the last setlocale(LC_ALL, "") saw and left.
struct LocaleMemo {
  bool valid = false;
  // The locale entries of the environment, in order, each followed by a zero byte.
  std::string environment;
  // The name of the locale in force after the call (setlocale(LC_ALL, nullptr)).
  std::string locale_name;
  // Whether the encoding of that locale maps every ASCII character to the same single byte
  // and back, starting and ending in the initial shift state.
  bool ascii_passes_through = false;
};

// Guarded by LocaleMutex.
LocaleMemo& Memo() {
  static LocaleMemo memo;
  return memo;
}

// Whether the locale entries of the environment are those in memo (one pass over the
// environment, no allocation).
bool SameEnvironment(const LocaleMemo& memo) {
  std::size_t position = 0;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!IsLocaleEntry(*entry)) continue;
    const std::size_t length = std::strlen(*entry) + 1;
    if (memo.environment.compare(position, length, *entry, length) != 0) return false;
    position += length;
  }
  return position == memo.environment.size();
}

bool AsciiPassesThrough() {
  for (int c = 1; c < 0x80; ++c) {
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    if (std::wcrtomb(bytes, static_cast<wchar_t>(c), &state) != 1 || bytes[0] != c ||
        !std::mbsinit(&state)) {
      return false;
    }
    const char byte = static_cast<char>(c);
    wchar_t decoded = 0;
    if (std::mbrtowc(&decoded, &byte, 1, &state) != 1 || decoded != c || !std::mbsinit(&state)) {
      return false;
    }
  }
  return true;
}

// Sets the process locale for all categories from the environment, as setlocale(LC_ALL, "")
// does, and returns whether ASCII passes through its encoding unchanged.
//
// setlocale(LC_ALL, "") looks every category's locale up anew (tens of thousands of
// instructions), and the installation converts several paths per file it writes, so the
// call is made only when its outcome could differ from the last one's: when the locale
// variables of the environment changed (compared by value), or when the locale in force is
// no longer the one it left (someone else called setlocale in between). Otherwise the
// locale it would set is already the one in force.
bool SetLocaleFromEnvironment() {
  LocaleMemo& memo = Memo();
  if (memo.valid && SameEnvironment(memo)) {
    const char* current = std::setlocale(LC_ALL, nullptr);
    if (current != nullptr && memo.locale_name == current) return memo.ascii_passes_through;
  }
  std::setlocale(LC_ALL, "");
  memo.environment.clear();
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (IsLocaleEntry(*entry)) memo.environment.append(*entry, std::strlen(*entry) + 1);
  }
  const char* current = std::setlocale(LC_ALL, nullptr);
  memo.valid = current != nullptr;
  memo.locale_name = current != nullptr ? current : "";
  memo.ascii_passes_through = AsciiPassesThrough();
  return memo.ascii_passes_through;
}

// Encodes units until count or the first zero unit, handing the bytes to sink(bytes, n) in
// order, a character or a run of characters at a time. Returns false at the first unit the
// encoding cannot represent, after handing over the bytes of the units before it.
// ascii_passes_through: ASCII units in the initial shift state are their own bytes, which
// is what the library would give for them, without a library call per unit.
template <typename Sink>
bool EncodeUnits(const char16_t* text, std::size_t count, bool ascii_passes_through,
                 Sink sink) {
  std::mbstate_t state{};
  bool initial_state = true;
  char bytes[MB_LEN_MAX];
  char run[64];
  std::size_t run_length = 0;
  for (std::size_t i = 0; i < count && text[i] != 0; ++i) {
    const char16_t unit = text[i];
    if (ascii_passes_through && initial_state && unit < 0x80) {
      run[run_length++] = static_cast<char>(unit);
      if (run_length == sizeof run) {
        sink(run, run_length);
        run_length = 0;
      }
      continue;
    }
    if (run_length > 0) {
      sink(run, run_length);
      run_length = 0;
    }
    std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(unit), &state);
    if (n == static_cast<std::size_t>(-1)) return false;
    sink(bytes, n);
    initial_state = std::mbsinit(&state) != 0;
  }
  if (run_length > 0) sink(run, run_length);
  return true;
}

// Decodes bytes until count or the first zero byte. Each character is handed to
// sink(unit). Returns false at the first invalid or incomplete sequence.
// ascii_passes_through: as for EncodeUnits.
template <typename Sink>
bool DecodeBytes(const char* bytes, std::size_t count, bool ascii_passes_through, Sink sink) {
  std::mbstate_t state{};
  bool initial_state = true;
  std::size_t i = 0;
  while (i < count && bytes[i] != 0) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (ascii_passes_through && initial_state && byte < 0x80) {
      sink(static_cast<char16_t>(byte));
      ++i;
      continue;
    }
    wchar_t c;
    std::size_t n = std::mbrtowc(&c, bytes + i, count - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) return false;
    if (n == 0) break;  // a zero character: the text ends here
    sink(static_cast<char16_t>(c));
    i += n;
    initial_state = std::mbsinit(&state) != 0;
  }
  return true;
}

}  // namespace

std::ptrdiff_t WideToLocaleChars(const char16_t* text, std::size_t count, char* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const bool ascii_passes_through = SetLocaleFromEnvironment();
  if (size) std::memset(buffer, 0, size);
  std::size_t needed = 0;
  bool ok = EncodeUnits(text, count, ascii_passes_through, [&](const char* bytes, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k, ++needed)
      if (needed < size) buffer[needed] = bytes[k];
  });
  return ok ? static_cast<std::ptrdiff_t>(needed) : -1;
}

std::ptrdiff_t LocaleCharsToWide(const char* bytes, std::size_t count, char16_t* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const bool ascii_passes_through = SetLocaleFromEnvironment();
  std::size_t chars = 0;
  bool ok = DecodeBytes(bytes, count, ascii_passes_through, [&](char16_t unit) {
    if (chars < size) buffer[chars] = unit;
    ++chars;
  });
  return ok ? static_cast<std::ptrdiff_t>(chars) : -1;
}

std::size_t DecodeLocaleChunk(const char* bytes, std::size_t count, bool at_end,
                              char16_t* out, std::size_t* consumed) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  SetLocaleFromEnvironment();
  std::mbstate_t state{};
  std::size_t i = 0, units = 0;
  while (i < count) {
    wchar_t c;
    std::size_t n = std::mbrtowc(&c, bytes + i, count - i, &state);
    bool incomplete = n == static_cast<std::size_t>(-2);
    if (incomplete && !at_end) break;  // the rest comes with the next chunk
    if (incomplete || n == static_cast<std::size_t>(-1)) {
      out[units++] = 0xFFFD;
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    out[units++] = n == 0 ? 0 : static_cast<char16_t>(c);
    i += n == 0 ? 1 : n;
  }
  *consumed = i;
  return units;
}

NarrowString ToLocaleBytes(const WideString& text) {
  NarrowString out;
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const bool ascii_passes_through = SetLocaleFromEnvironment();
  EncodeUnits(text.Data(), text.Length(), ascii_passes_through,
              [&](const char* bytes, std::size_t n) { out.Append(bytes, n); });
  return out;
}

bool ToLocaleBytesExact(const WideString& text, NarrowString* bytes) {
  bytes->Clear();
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const bool ascii_passes_through = SetLocaleFromEnvironment();
  return EncodeUnits(text.Data(), text.Length(), ascii_passes_through,
                     [&](const char* piece, std::size_t n) { bytes->Append(piece, n); });
}

WideString FromLocaleBytes(const NarrowString& bytes) {
  WideString out;
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const bool ascii_passes_through = SetLocaleFromEnvironment();
  DecodeBytes(bytes.Data(), bytes.Length(), ascii_passes_through,
              [&](char16_t unit) { out.Append(unit); });
  return out;
}

int CompareNoCase(const WideString& a, const WideString& b) {
  NarrowString x = ToLocaleBytes(a);
  NarrowString y = ToLocaleBytes(b);
  return strcasecmp(x.CStr(), y.CStr());
}

NarrowString FoldCaseKey(const WideString& text) {
  NarrowString key = ToLocaleBytes(text);
  char* bytes = key.MutableData();
  for (std::size_t i = 0; i < key.Length(); ++i)
    bytes[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[i])));
  return key;
}
