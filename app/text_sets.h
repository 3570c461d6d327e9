// The built-in text sets of the user interface: one constant list of (identifier, text)
// pairs per language, each holding the same kTextSetSize identifiers in the same order, the
// texts in UTF-8. The lists are constant-initialised, so they are complete before any
// dynamic initialisation runs; the StringTable is built from them.
//
// English serves two language numbers (5 "en" and 22 "ar"), Spanish two (9 and 18, both
// "es"). No Greek set is carried: no language entry would select it.

#ifndef APP_TEXT_SETS_H_
#define APP_TEXT_SETS_H_

#include <cstddef>

struct TextPair {
  const char* identifier;  // IDR_MAINFRAME or an IDS_ identifier, ASCII
  const char* text;        // UTF-8
};

constexpr std::size_t kTextSetSize = 34;

extern const TextPair kArmenianTexts[kTextSetSize];
extern const TextPair kAzerbaijaniTexts[kTextSetSize];
extern const TextPair kBulgarianTexts[kTextSetSize];
extern const TextPair kChineseTexts[kTextSetSize];
extern const TextPair kEnglishTexts[kTextSetSize];
extern const TextPair kFrenchTexts[kTextSetSize];
extern const TextPair kGeorgianTexts[kTextSetSize];
extern const TextPair kGermanTexts[kTextSetSize];
extern const TextPair kSpanishTexts[kTextSetSize];
extern const TextPair kHungarianTexts[kTextSetSize];
extern const TextPair kItalianTexts[kTextSetSize];
extern const TextPair kKazakhTexts[kTextSetSize];
extern const TextPair kLatvianTexts[kTextSetSize];
extern const TextPair kLithuanianTexts[kTextSetSize];
extern const TextPair kPolishTexts[kTextSetSize];
extern const TextPair kRomanianTexts[kTextSetSize];
extern const TextPair kRussianTexts[kTextSetSize];
extern const TextPair kTurkishTexts[kTextSetSize];
extern const TextPair kUkrainianTexts[kTextSetSize];
extern const TextPair kVietnameseTexts[kTextSetSize];
extern const TextPair kTurkmenTexts[kTextSetSize];

#endif  // APP_TEXT_SETS_H_
