// Conversions between the program's string types and the plain strings tests write their
// expectations in. None of them reads the process locale, except LocaleBytesOf, which is
// the program's own conversion.

#ifndef TESTING_TEXT_HELPERS_H_
#define TESTING_TEXT_HELPERS_H_

#include <string>

#include "text/narrow_string.h"
#include "text/wide_string.h"

// Each byte as one unit: for ASCII texts.
WideString WideFromAscii(const std::string& text);
// UTF-8 decoded into units (surrogate pairs above U+FFFF).
WideString WideFromUtf8(const std::string& text);
// Each unit as one byte: for ASCII texts.
std::string AsciiOf(const WideString& text);
// The units as they are.
std::u16string U16(const WideString& text);

// The bytes as they are, and back.
std::string StringOf(const NarrowString& bytes);
NarrowString NarrowOf(const std::string& bytes);
// ToLocaleBytes(text), under the locale the environment names.
std::string LocaleBytesOf(const WideString& text);

#endif  // TESTING_TEXT_HELPERS_H_
