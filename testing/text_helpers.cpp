#include "testing/text_helpers.h"

#include <cstdint>

#include "text/locale_conversions.h"

WideString WideFromAscii(const std::string& text) {
  WideString wide;
  for (char c : text) wide.Append(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

WideString WideFromUtf8(const std::string& text) {
  WideString result;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    uint32_t point = lead;
    std::size_t extra = 0;
    if (lead >= 0xF0) {
      point = lead & 0x07;
      extra = 3;
    } else if (lead >= 0xE0) {
      point = lead & 0x0F;
      extra = 2;
    } else if (lead >= 0xC0) {
      point = lead & 0x1F;
      extra = 1;
    }
    for (std::size_t k = 1; k <= extra && i + k < text.size(); ++k) {
      point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (point >= 0x10000) {
      result.Append(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
      result.Append(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
    } else {
      result.Append(static_cast<char16_t>(point));
    }
    i += extra + 1;
  }
  return result;
}

std::string AsciiOf(const WideString& text) {
  std::string ascii;
  for (char16_t unit : text) ascii.push_back(static_cast<char>(unit));
  return ascii;
}

std::u16string U16(const WideString& text) { return std::u16string(text.Data(), text.Length()); }

std::string StringOf(const NarrowString& bytes) {
  return std::string(bytes.Data(), bytes.Length());
}

NarrowString NarrowOf(const std::string& bytes) {
  return NarrowString(bytes.data(), bytes.size());
}

std::string LocaleBytesOf(const WideString& text) { return StringOf(ToLocaleBytes(text)); }
