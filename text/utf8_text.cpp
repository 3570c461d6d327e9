#include "text/utf8_text.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char16_t kEscapeBase = 0xDC00;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The length of the valid UTF-8 sequence at bytes[0, count), with its code in *code; 0 when
// the bytes there start no valid sequence.
std::size_t DecodeOne(const unsigned char* bytes, std::size_t count, char32_t* code) {
  const unsigned char lead = bytes[0];
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (count < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (bytes[i] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

}  // namespace

void AppendUtf8Character(char32_t code, NarrowString* out) {
  char bytes[4];
  std::size_t length = 0;
  if (code < 0x80) {
    bytes[length++] = static_cast<char>(code);
  } else if (code < 0x800) {
    bytes[length++] = static_cast<char>(0xC0 | (code >> 6));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes[length++] = static_cast<char>(0xE0 | (code >> 12));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes[length++] = static_cast<char>(0xF0 | (code >> 18));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes[length++] = static_cast<char>(0x80 | (code & 0x3F));
  }
  out->Append(bytes, length);
}

NarrowString ToUtf8(const WideString& text) {
  NarrowString out;
  const std::size_t count = text.Length();
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t unit = text[i];
    char32_t code = unit;
    if (IsHighSurrogate(unit) && i + 1 < count && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit) || unit == 0) {
      code = kReplacement;
    }
    AppendUtf8Character(code, &out);
  }
  return out;
}

WideString FromUtf8(const NarrowString& bytes) {
  WideString out;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.Data());
  std::size_t count = 0;
  while (count < bytes.Length() && data[count] != 0) ++count;
  std::size_t position = 0;
  while (position < count) {
    char32_t code = 0;
    const std::size_t length = DecodeOne(data + position, count - position, &code);
    if (length == 0) {
      out.Append(static_cast<char16_t>(kEscapeBase + data[position]));
      ++position;
      continue;
    }
    position += length;
    if (code >= 0x10000) {
      out.Append(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.Append(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.Append(static_cast<char16_t>(code));
    }
  }
  return out;
}
