// NarrowString: the byte string used at the program's edges (file names, shell command
// lines, texts for GTK, settings-file lines) and for the UTF-8 texts of the string table.
// Bytes are in the locale's multibyte encoding. Short texts (up to 23 bytes on x86-64, 19 on
// 32-bit x86) live inside the object; the design is that of text/cow_string.h with a header
// of one machine word (8 bytes on x86-64, 4 on 32-bit x86) in front of the bytes.

#ifndef TEXT_NARROW_STRING_H_
#define TEXT_NARROW_STRING_H_

#include "text/cow_string.h"

using NarrowString = CowString<char>;

#endif  // TEXT_NARROW_STRING_H_
