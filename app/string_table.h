// StringTable: every text the program shows, by language number and identifier.
//
// The table maps a language number to its LanguageEntry (two-letter code and TextSet); a
// TextSet maps an identifier (IDR_MAINFRAME or an IDS_ identifier) to its UTF-8 text. Both
// maps are ordered; identifiers are ordered by NarrowString::Compare (bytes as memcmp over
// the shorter length, then the shorter first).
//
// The table is complete before main() runs and is never changed afterwards, so any thread
// may read it without a lock. The current language number is one process-wide int, 0 until
// SetCurrentLanguage is called at start-up, before any worker thread exists.

#ifndef APP_STRING_TABLE_H_
#define APP_STRING_TABLE_H_

#include <map>

#include "text/narrow_string.h"
#include "text/wide_string.h"

using TextSet = std::map<NarrowString, NarrowString>;

struct LanguageEntry {
  NarrowString code;  // two lower-case ASCII letters
  TextSet texts;
};

using StringTable = std::map<int, LanguageEntry>;

// The one table of the process.
const StringTable& GetStringTable();

// The number of the lowest-numbered entry whose code equals code exactly (same length, same
// bytes, case-sensitive); 0 when there is none.
int FindLanguage(const NarrowString& code);

// Makes number the language of every later LoadText.
void SetCurrentLanguage(int number);
// The number SetCurrentLanguage made current (0 before), so that whoever changes the
// language for a while can put it back.
int GetCurrentLanguage();

// The text of identifier in the current language, decoded from its UTF-8 (FromUtf8), so it
// is right under every locale. Empty when the current number selects no entry (0 before
// SetCurrentLanguage) or the identifier is not in its set; never taken from another language.
WideString LoadText(const NarrowString& identifier);

#endif  // APP_STRING_TABLE_H_
