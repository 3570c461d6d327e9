#include "text/locale_conversions.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <strings.h>

namespace {

// setlocale changes process-wide state that the conversion functions read. Both threads
// convert (file names on the worker, texts on the user-interface thread), so a conversion
// and the locale setting before it run as one step under this lock.
std::mutex& LocaleMutex() {
  static std::mutex mutex;
  return mutex;
}

void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

// Encodes units until count or the first zero unit. Each encoded character is handed to
// sink(bytes, n). Returns false at the first unit the encoding cannot represent.
template <typename Sink>
bool EncodeUnits(const char16_t* text, std::size_t count, Sink sink) {
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  for (std::size_t i = 0; i < count && text[i] != 0; ++i) {
    std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(text[i]), &state);
    if (n == static_cast<std::size_t>(-1)) return false;
    sink(bytes, n);
  }
  return true;
}

// Decodes bytes until count or the first zero byte. Each character is handed to
// sink(unit). Returns false at the first invalid or incomplete sequence.
template <typename Sink>
bool DecodeBytes(const char* bytes, std::size_t count, Sink sink) {
  std::mbstate_t state{};
  std::size_t i = 0;
  while (i < count && bytes[i] != 0) {
    wchar_t c;
    std::size_t n = std::mbrtowc(&c, bytes + i, count - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) return false;
    if (n == 0) break;  // a zero character: the text ends here
    sink(static_cast<char16_t>(c));
    i += n;
  }
  return true;
}

}  // namespace

std::ptrdiff_t WideToLocaleChars(const char16_t* text, std::size_t count, char* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  SetLocaleFromEnvironment();
  if (size) std::memset(buffer, 0, size);
  std::size_t needed = 0;
  bool ok = EncodeUnits(text, count, [&](const char* bytes, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k, ++needed)
      if (needed < size) buffer[needed] = bytes[k];
  });
  return ok ? static_cast<std::ptrdiff_t>(needed) : -1;
}

std::ptrdiff_t LocaleCharsToWide(const char* bytes, std::size_t count, char16_t* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  SetLocaleFromEnvironment();
  std::size_t chars = 0;
  bool ok = DecodeBytes(bytes, count, [&](char16_t unit) {
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
  SetLocaleFromEnvironment();
  EncodeUnits(text.Data(), text.Length(),
              [&](const char* bytes, std::size_t n) { out.Append(bytes, n); });
  return out;
}

WideString FromLocaleBytes(const NarrowString& bytes) {
  WideString out;
  std::lock_guard<std::mutex> lock(LocaleMutex());
  SetLocaleFromEnvironment();
  DecodeBytes(bytes.Data(), bytes.Length(), [&](char16_t unit) { out.Append(unit); });
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
