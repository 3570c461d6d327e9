// WideString: the program's one text type. Every path, message, kit string and settings key
// and value is a WideString of UTF-16 code units (char16_t). Short texts (up to 11 units on
// x86-64, 9 on 32-bit x86) live inside the object; longer ones in a shared copy-on-write
// block. The design, its two forms and its invariants are described in text/cow_string.h.

#ifndef TEXT_WIDE_STRING_H_
#define TEXT_WIDE_STRING_H_

#include "text/cow_string.h"

using WideString = CowString<char16_t>;

#endif  // TEXT_WIDE_STRING_H_
