// Conversions between WideString and the bytes of the process locale's multibyte encoding
// (UTF-8 under a UTF-8 locale), and the case-insensitive comparison used for settings keys
// and values and for the kit's language codes.
//
// Every conversion first sets the process locale for all categories from the environment
// (setlocale(LC_ALL, "")), so the encoding is always the one the environment selects. The
// call is skipped while neither the environment's locale variables nor the locale in force
// have changed since the last one, since it would set the locale already in force.
//
// The encoding: the locale's own, except that a locale whose codeset is plain ASCII (C,
// POSIX: what cron, ssh and containers give) converts with UTF-8, as current language
// runtimes do; file names and settings written by the user's desktop are UTF-8 there too.
//
// No conversion loses anything:
//   - a character outside the Basic Multilingual Plane is one surrogate pair of units;
//   - a byte that does not decode (an invalid or cut sequence; never an ASCII byte)
//     becomes the unit U+DC00 + byte, a lone low surrogate no decoded character can be,
//     and that unit converts back to the same byte ("surrogate escape"). So bytes read
//     from the system, decoded and encoded again, are the same bytes, whatever they are.
// What cannot be encoded is a lone surrogate outside U+DC80..U+DCFF, a character the
// encoding lacks (such as a Cyrillic letter under a Latin-1 locale) and, for a path, a
// zero unit. Paths and settings lines use ToLocaleBytesExact, which then reports the text
// as unencodable; message texts use ToLocaleBytes, which puts a replacement in its place.
// Neither ever returns a shortened text.

#ifndef TEXT_LOCALE_CONVERSIONS_H_
#define TEXT_LOCALE_CONVERSIONS_H_

#include <cstddef>
#include <functional>

#include "text/narrow_string.h"
#include "text/wide_string.h"

// Converts the units of text up to count or the first zero unit, whichever comes first, as
// ToLocaleBytesExact does. Returns the number of bytes the whole text needs (without
// terminator), or -1 when a unit cannot be encoded (the buffer then holds the bytes of the
// units before it, as far as they fit). Writes at most size bytes (no terminator beyond
// them) into buffer, which may be null when size is 0.
std::ptrdiff_t WideToLocaleChars(const char16_t* text, std::size_t count, char* buffer,
                                 std::size_t size);

// Decodes the bytes up to count or the first zero byte, whichever comes first, as
// FromLocaleBytes does. Returns the number of units the whole text decodes to (a character
// outside the Basic Multilingual Plane counts two); never fails. Writes the first
// min(units, size) of them into buffer.
std::ptrdiff_t LocaleCharsToWide(const char* bytes, std::size_t count, char16_t* buffer,
                                 std::size_t size);

// Decodes a piece of a longer byte stream, for readers that take a file in chunks. Decodes
// whole characters from bytes[0, count) into out, which must have room for count units, and
// returns the number of units written. A character whose bytes run past count is left
// undecoded, and *consumed tells where the next chunk has to start; when at_end says no
// chunk follows, those bytes do not decode instead. Bytes that do not decode become
// surrogate escapes, like every other byte they go back to themselves on encoding. A zero
// byte is decoded as the unit 0.
std::size_t DecodeLocaleChunk(const char* bytes, std::size_t count, bool at_end,
                              char16_t* out, std::size_t* consumed);

// The text in the locale's encoding, for a message (GTK, a message box, standard error):
// every unit that cannot be encoded, a surrogate escape and a zero unit included, becomes
// the replacement character U+FFFD, or "?" where the encoding lacks it, one for each such
// unit. The result is always valid text in the encoding, and nothing is left out.
// Runs work while no conversion runs: for a library that sets the process locale itself
// (GTK as it starts) while other threads may convert. work must not convert.
void RunWithLocaleHeld(const std::function<void()>& work);

NarrowString ToLocaleBytes(const WideString& text);
// The text in the locale's encoding, for a path or a settings line: true with *bytes the
// whole text (surrogate escapes as the bytes they stand for), or false (and *bytes
// unspecified) when a unit cannot be encoded, a zero unit included.
bool ToLocaleBytesExact(const WideString& text, NarrowString* bytes);
// The decoded bytes, without loss; stops before the first zero byte.
WideString FromLocaleBytes(const NarrowString& bytes);
// Both texts converted to bytes and compared with strcasecmp: negative, 0 or positive.
// Surrogate escapes compare as the bytes they stand for, so two texts read from a file are
// equal only when their bytes are; a unit that cannot be encoded compares as the
// replacement.
int CompareNoCase(const WideString& a, const WideString& b);

// The key under which CompareNoCase sees a text: its bytes as CompareNoCase takes them,
// each folded as strcasecmp folds it. Two texts compare equal under CompareNoCase exactly
// when their folded keys are equal, so the keys can index a hash table.
NarrowString FoldCaseKey(const WideString& text);

#endif  // TEXT_LOCALE_CONVERSIONS_H_
