// Conversions between WideString and the bytes of the process locale's multibyte encoding
// (UTF-8 under a UTF-8 locale), and the case-insensitive comparison used for settings keys
// and values and for the kit's language codes.
//
// Every conversion first sets the process locale for all categories from the environment
// (setlocale(LC_ALL, "")), so the encoding is always the one the environment selects. The
// call is skipped while neither the environment's locale variables nor the locale in force
// have changed since the last one, since it would set the locale already in force.
//
// Each 16-bit unit is converted as one character: surrogate pairs are not combined, and a
// decoded character above U+FFFF keeps only its low 16 bits.
//
// Text the encoding cannot represent (any non-ASCII character under the POSIX locale, an
// unpaired surrogate) and bytes that are not valid in it: the conversion stops at the first
// such character. ToLocaleBytes and FromLocaleBytes then return the text before it; the
// low-level functions report -1 and still fill the buffer with that prefix. A length of -1
// is never used as a size.

#ifndef TEXT_LOCALE_CONVERSIONS_H_
#define TEXT_LOCALE_CONVERSIONS_H_

#include <cstddef>

#include "text/narrow_string.h"
#include "text/wide_string.h"

// Converts the units of text up to count or the first zero unit, whichever comes first.
// Returns the number of bytes the whole text needs (without terminator), or -1 when a unit
// cannot be encoded. Writes at most size bytes (no terminator beyond them) into buffer,
// which may be null when size is 0.
std::ptrdiff_t WideToLocaleChars(const char16_t* text, std::size_t count, char* buffer,
                                 std::size_t size);

// Decodes the bytes up to count or the first zero byte, whichever comes first. Returns the
// number of characters the whole text decodes to, or -1 when the bytes are not valid in the
// encoding. Writes the first min(characters, size) of them into buffer, each cut to 16 bits.
std::ptrdiff_t LocaleCharsToWide(const char* bytes, std::size_t count, char16_t* buffer,
                                 std::size_t size);

// Decodes a piece of a longer byte stream, for readers that take a file in chunks. Decodes
// whole characters from bytes[0, count) into out, which must have room for count units, and
// returns the number of units written. A character whose bytes run past count is left
// undecoded, and *consumed tells where the next chunk has to start; when at_end says no
// chunk follows, those bytes are invalid instead. Unlike the conversions
// above, decoding goes on past bytes that are not valid in the encoding: each such byte
// becomes U+FFFD, so one bad byte never hides the rest of a file. A zero byte is decoded
// as the unit 0.
std::size_t DecodeLocaleChunk(const char* bytes, std::size_t count, bool at_end,
                              char16_t* out, std::size_t* consumed);

// The text in the locale's encoding; stops before the first zero unit.
NarrowString ToLocaleBytes(const WideString& text);
// The text in the locale's encoding, for a path or a settings line: true with *bytes the
// whole text, or false (and *bytes unspecified) when a unit cannot be encoded. Stops before
// the first zero unit.
bool ToLocaleBytesExact(const WideString& text, NarrowString* bytes);
// The decoded bytes; stops before the first zero byte.
WideString FromLocaleBytes(const NarrowString& bytes);
// Both texts converted with ToLocaleBytes and compared with strcasecmp: negative, 0 or
// positive.
int CompareNoCase(const WideString& a, const WideString& b);

// The key under which CompareNoCase sees a text: its ToLocaleBytes form with every byte
// folded as strcasecmp folds it. Two texts compare equal under CompareNoCase exactly when
// their folded keys are equal, so the keys can index a hash table.
NarrowString FoldCaseKey(const WideString& text);

#endif  // TEXT_LOCALE_CONVERSIONS_H_
