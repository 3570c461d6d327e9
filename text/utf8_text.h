// Conversions between WideString and UTF-8, whatever the locale: for GTK, which takes and
// gives UTF-8 only, and for the string table, whose texts are stored as UTF-8.
//
// Decoding keeps every byte, as the locale conversions do: a byte that is not part of a
// valid UTF-8 sequence (an invalid, cut or overlong sequence, an encoded surrogate) becomes
// the surrogate escape U+DC00 + byte, and decoding stops before the first zero byte.
// Encoding a valid character or surrogate pair gives its UTF-8 bytes; a unit that is no
// character (a lone surrogate, surrogate escapes included) or a zero unit becomes U+FFFD,
// so the result is always valid UTF-8 without a zero byte, and nothing is left out.

#ifndef TEXT_UTF8_TEXT_H_
#define TEXT_UTF8_TEXT_H_

#include "text/narrow_string.h"
#include "text/wide_string.h"

// The text as UTF-8 (see above).
NarrowString ToUtf8(const WideString& text);
// The UTF-8 bytes decoded, without loss (see above).
WideString FromUtf8(const NarrowString& bytes);
// Appends the UTF-8 bytes of the character code (at most U+10FFFF, no surrogate).
void AppendUtf8Character(char32_t code, NarrowString* out);

#endif  // TEXT_UTF8_TEXT_H_
