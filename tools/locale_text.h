// Exact conversions between the locale's bytes and WideString for the kit tool: a text is
// accepted only when it converts both ways without loss, so that a name packed into a kit is
// the name the installer writes back.

#ifndef TOOLS_LOCALE_TEXT_H_
#define TOOLS_LOCALE_TEXT_H_

#include "text/narrow_string.h"
#include "text/wide_string.h"

// The units of bytes; false when the bytes are not valid text in the locale's encoding (so
// that a kit never carries the escapes of bytes that do not decode), or do not convert back
// to the same bytes.
bool WideFromLocaleExactly(const NarrowString& bytes, WideString* text);

#endif  // TOOLS_LOCALE_TEXT_H_
