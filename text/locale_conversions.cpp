#include "text/locale_conversions.h"

#include <cctype>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>
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

// How the encoding of the locale in force is converted.
struct Codec {
  // UTF-8, by the rules written out below: the locale's codeset is UTF-8, or plain ASCII.
  bool utf8 = true;
  // Library encodings: whether every ASCII character is its own single byte both ways,
  // starting and ending in the initial shift state.
  bool ascii_passes_through = true;
  // What a unit that cannot be encoded becomes in a message: U+FFFD, or "?" where the
  // encoding has no such character.
  std::string replacement = "\xef\xbf\xbd";
};

// What the last setlocale(LC_ALL, "") saw and left.
struct LocaleMemo {
  bool valid = false;
  // The locale entries of the environment, in order, each followed by a zero byte.
  std::string environment;
  // The name of the locale in force after the call (setlocale(LC_ALL, nullptr)).
  std::string locale_name;
  Codec codec;
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

bool IsAsciiCodeset(const char* codeset) {
  return std::strcmp(codeset, "ANSI_X3.4-1968") == 0 || std::strcmp(codeset, "ASCII") == 0 ||
         std::strcmp(codeset, "US-ASCII") == 0;
}

Codec CodecOfLocaleInForce() {
  Codec codec;
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) codeset = "";
  codec.utf8 = std::strcmp(codeset, "UTF-8") == 0 || IsAsciiCodeset(codeset);
  if (codec.utf8) return codec;
  codec.ascii_passes_through = AsciiPassesThrough();
  std::mbstate_t state{};
  char bytes[MB_LEN_MAX];
  const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(0xFFFD), &state);
  codec.replacement = n != static_cast<std::size_t>(-1) && std::mbsinit(&state)
                          ? std::string(bytes, n)
                          : std::string("?");
  return codec;
}

// Sets the process locale for all categories from the environment, as setlocale(LC_ALL, "")
// does, and returns how its encoding is converted.
//
// setlocale(LC_ALL, "") looks every category's locale up anew (tens of thousands of
// instructions), and the installation converts several paths per file it writes, so the
// call is made only when its outcome could differ from the last one's: when the locale
// variables of the environment changed (compared by value), or when the locale in force is
// no longer the one it left (someone else called setlocale in between). Otherwise the
// locale it would set is already the one in force.
const Codec& SetLocaleFromEnvironment() {
  LocaleMemo& memo = Memo();
  if (memo.valid && SameEnvironment(memo)) {
    const char* current = std::setlocale(LC_ALL, nullptr);
    if (current != nullptr && memo.locale_name == current) return memo.codec;
  }
  std::setlocale(LC_ALL, "");
  memo.environment.clear();
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (IsLocaleEntry(*entry)) memo.environment.append(*entry, std::strlen(*entry) + 1);
  }
  const char* current = std::setlocale(LC_ALL, nullptr);
  memo.valid = current != nullptr;
  memo.locale_name = current != nullptr ? current : "";
  memo.codec = CodecOfLocaleInForce();
  return memo.codec;
}

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;
constexpr char32_t kLastCharacter = 0x10FFFF;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// The UTF-8 bytes of a character (not a surrogate, at most U+10FFFF); returns their count.
std::size_t EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

constexpr std::size_t kInvalid = 0;
constexpr std::size_t kIncomplete = static_cast<std::size_t>(-1);

// One UTF-8 character at the start of bytes[0, count), count > 0: its length with *c, or
// kInvalid when the first byte starts no well-formed character (overlong forms, encoded
// surrogates and values above U+10FFFF are not well-formed), or kIncomplete when the bytes
// are a well-formed beginning that count cuts off.
std::size_t DecodeUtf8(const unsigned char* bytes, std::size_t count, char32_t* c) {
  const unsigned char first = bytes[0];
  if (first < 0x80) {
    *c = first;
    return 1;
  }
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    return kInvalid;
  }
  char32_t value = first & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if (k == count) return kIncomplete;
    const unsigned char byte = bytes[k];
    if (k == 1 ? (byte < low || byte > high) : (byte & 0xC0) != 0x80) return kInvalid;
    value = (value << 6) | (byte & 0x3F);
  }
  *c = value;
  return length;
}

// Hands the units of one character (one, or a surrogate pair) to sink.
template <typename Sink>
void PutCharacter(char32_t c, Sink& sink) {
  if (c < 0x10000) {
    sink(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  sink(static_cast<char16_t>(0xD800 + (c >> 10)));
  sink(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

// The unit a byte that does not decode becomes. ASCII bytes never get here in practice (every
// encoding a locale can have decodes them); one that did stays itself rather than becoming
// an escape that would encode back to a separator or a dot.
char16_t EscapeOf(unsigned char byte) {
  return byte < 0x80 ? static_cast<char16_t>(byte) : static_cast<char16_t>(kEscapeBase + byte);
}

// Decodes whole characters from bytes[0, count), handing each unit to sink(unit). Stops at
// the first zero byte when stop_at_zero (else a zero byte is the unit 0). A character cut
// off by count is left undecoded unless at_end, which makes its bytes escapes. Returns the
// number of bytes consumed.
template <typename Sink>
std::size_t DecodeBytes(const Codec& codec, const char* bytes, std::size_t count,
                        bool stop_at_zero, bool at_end, Sink sink) {
  std::mbstate_t state{};
  bool initial_state = true;
  std::size_t i = 0;
  while (i < count) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0) {
      if (stop_at_zero) break;
      sink(char16_t{0});
      ++i;
      state = std::mbstate_t{};
      initial_state = true;
      continue;
    }
    if (byte < 0x80 && (codec.utf8 || (codec.ascii_passes_through && initial_state))) {
      sink(static_cast<char16_t>(byte));
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t n;
    if (codec.utf8) {
      n = DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes) + i, count - i, &c);
    } else {
      const bool from_initial_state = initial_state;
      wchar_t w;
      n = std::mbrtowc(&w, bytes + i, count - i, &state);
      if (n == static_cast<std::size_t>(-2)) {
        n = kIncomplete;
      } else if (n == static_cast<std::size_t>(-1) || n == 0) {
        n = kInvalid;
      } else {
        c = static_cast<char32_t>(w);
        // Never a unit that an escape or a pair could also stand for.
        if (IsSurrogate(c) || c > kLastCharacter || (c >= 0x10000 && n < 2)) n = kInvalid;
      }
      // A character that does not encode back to exactly its bytes (an encoding with two
      // spellings of one character) would not survive a round trip: its bytes are escapes.
      if (n != kIncomplete && n != kInvalid && from_initial_state && std::mbsinit(&state)) {
        std::mbstate_t fresh{};
        char again[MB_LEN_MAX];
        if (std::wcrtomb(again, w, &fresh) != n || std::memcmp(again, bytes + i, n) != 0) {
          n = kInvalid;
        }
      }
    }
    if (n == kIncomplete && !at_end) break;  // the rest comes with the next chunk
    if (n == kIncomplete || n == kInvalid) {
      sink(EscapeOf(byte));
      ++i;
      state = std::mbstate_t{};
      initial_state = true;
      continue;
    }
    PutCharacter(c, sink);
    i += n;
    initial_state = codec.utf8 || std::mbsinit(&state) != 0;
  }
  return i;
}

enum class EncodeMode {
  // Paths and settings lines: escapes become their bytes; anything unencodable fails.
  kExact,
  // The comparison of texts: escapes become their bytes; anything unencodable becomes the
  // replacement.
  kCompare,
  // Messages: escapes and anything unencodable become the replacement.
  kDisplay,
};

// Encodes units [0, count), handing the bytes to sink(bytes, n) in order, a character or a
// run of characters at a time. Returns false at the first unit that cannot be encoded, in
// kExact mode only, after handing over the bytes of the units before it.
template <typename Sink>
bool EncodeUnits(const Codec& codec, const char16_t* text, std::size_t count, EncodeMode mode,
                 Sink sink) {
  std::mbstate_t state{};
  bool initial_state = true;
  char bytes[MB_LEN_MAX > 4 ? MB_LEN_MAX : 4];
  char run[64];
  std::size_t run_length = 0;
  const auto flush_run = [&] {
    if (run_length > 0) sink(run, run_length);
    run_length = 0;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t unit = text[i];
    if (unit != 0 && unit < 0x80 &&
        (codec.utf8 || (codec.ascii_passes_through && initial_state))) {
      run[run_length++] = static_cast<char>(unit);
      if (run_length == sizeof run) flush_run();
      continue;
    }
    flush_run();
    char32_t c = unit;
    bool encodable = unit != 0;
    if (unit >= kFirstEscape && unit <= kLastEscape) {
      if (mode != EncodeMode::kDisplay) {
        const char byte = static_cast<char>(unit - kEscapeBase);
        sink(&byte, 1);
        continue;
      }
      encodable = false;
    } else if (IsHighSurrogate(unit) && i + 1 < count && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsSurrogate(unit)) {
      encodable = false;
    }
    if (encodable) {
      if (codec.utf8) {
        sink(bytes, EncodeUtf8(c, bytes));
        continue;
      }
      // Some library converters drop a character they have no bytes for (the Unicode
      // tag characters) instead of failing: no bytes count as a failure too.
      const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
      if (n != static_cast<std::size_t>(-1) && n != 0) {
        sink(bytes, n);
        initial_state = std::mbsinit(&state) != 0;
        continue;
      }
      state = std::mbstate_t{};
    }
    if (mode == EncodeMode::kExact) return false;
    sink(codec.replacement.data(), codec.replacement.size());
  }
  flush_run();
  if (!initial_state) {
    // Back to the initial shift state, so that the text can be followed by any other.
    const std::size_t n = std::wcrtomb(bytes, L'\0', &state);
    if (n != static_cast<std::size_t>(-1) && n > 1) sink(bytes, n - 1);
  }
  return true;
}

// The number of units before the first zero unit, at most count.
std::size_t UnitsBeforeZero(const char16_t* text, std::size_t count) {
  std::size_t n = 0;
  while (n < count && text[n] != 0) ++n;
  return n;
}

// The text's bytes appended to *out; false only in kExact mode, for a unit that cannot be
// encoded (the other modes put a stand-in there).
bool Encode(const WideString& text, EncodeMode mode, NarrowString* out) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const Codec& codec = SetLocaleFromEnvironment();
  return EncodeUnits(codec, text.Data(), text.Length(), mode,
                     [&](const char* bytes, std::size_t n) { out->Append(bytes, n); });
}

NarrowString Encode(const WideString& text, EncodeMode mode) {
  NarrowString out;
  Encode(text, mode, &out);
  return out;
}

}  // namespace

std::ptrdiff_t WideToLocaleChars(const char16_t* text, std::size_t count, char* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const Codec& codec = SetLocaleFromEnvironment();
  if (size) std::memset(buffer, 0, size);
  std::size_t needed = 0;
  const bool ok = EncodeUnits(codec, text, UnitsBeforeZero(text, count), EncodeMode::kExact,
                              [&](const char* bytes, std::size_t n) {
                                for (std::size_t k = 0; k < n; ++k, ++needed)
                                  if (needed < size) buffer[needed] = bytes[k];
                              });
  return ok ? static_cast<std::ptrdiff_t>(needed) : -1;
}

std::ptrdiff_t LocaleCharsToWide(const char* bytes, std::size_t count, char16_t* buffer,
                                 std::size_t size) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const Codec& codec = SetLocaleFromEnvironment();
  std::size_t units = 0;
  DecodeBytes(codec, bytes, count, true, true, [&](char16_t unit) {
    if (units < size) buffer[units] = unit;
    ++units;
  });
  return static_cast<std::ptrdiff_t>(units);
}

std::size_t DecodeLocaleChunk(const char* bytes, std::size_t count, bool at_end,
                              char16_t* out, std::size_t* consumed) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const Codec& codec = SetLocaleFromEnvironment();
  std::size_t units = 0;
  *consumed = DecodeBytes(codec, bytes, count, false, at_end,
                          [&](char16_t unit) { out[units++] = unit; });
  return units;
}

void RunWithLocaleHeld(const std::function<void()>& work) {
  std::lock_guard<std::mutex> lock(LocaleMutex());
  work();
}

NarrowString ToLocaleBytes(const WideString& text) { return Encode(text, EncodeMode::kDisplay); }

bool ToLocaleBytesExact(const WideString& text, NarrowString* bytes) {
  bytes->Clear();
  return Encode(text, EncodeMode::kExact, bytes);
}

WideString FromLocaleBytes(const NarrowString& bytes) {
  WideString out;
  std::lock_guard<std::mutex> lock(LocaleMutex());
  const Codec& codec = SetLocaleFromEnvironment();
  DecodeBytes(codec, bytes.Data(), bytes.Length(), true, true,
              [&](char16_t unit) { out.Append(unit); });
  return out;
}

int CompareNoCase(const WideString& a, const WideString& b) {
  const NarrowString x = Encode(a, EncodeMode::kCompare);
  const NarrowString y = Encode(b, EncodeMode::kCompare);
  return strcasecmp(x.CStr(), y.CStr());
}

NarrowString FoldCaseKey(const WideString& text) {
  NarrowString key = Encode(text, EncodeMode::kCompare);
  char* bytes = key.MutableData();
  for (std::size_t i = 0; i < key.Length(); ++i)
    bytes[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[i])));
  return key;
}
