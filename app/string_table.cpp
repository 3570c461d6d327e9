#include "app/string_table.h"

#include <utility>

#include "app/text_sets.h"
#include "text/utf8_text.h"

namespace {

struct LanguageRow {
  int number;
  const char* code;
  const TextPair* texts;
};

// Ascending by number. Number 18 repeats "es" and is never found by FindLanguage, because
// 9 comes first; number 22 ("ar") carries the English texts.
constexpr LanguageRow kLanguageRows[] = {
    {1, "hy", kArmenianTexts},     {2, "az", kAzerbaijaniTexts}, {3, "bg", kBulgarianTexts},
    {4, "zh", kChineseTexts},      {5, "en", kEnglishTexts},     {6, "fr", kFrenchTexts},
    {7, "ka", kGeorgianTexts},     {8, "de", kGermanTexts},      {9, "es", kSpanishTexts},
    {10, "hu", kHungarianTexts},   {11, "it", kItalianTexts},    {12, "kk", kKazakhTexts},
    {13, "lv", kLatvianTexts},     {14, "lt", kLithuanianTexts}, {15, "pl", kPolishTexts},
    {16, "ro", kRomanianTexts},    {17, "ru", kRussianTexts},    {18, "es", kSpanishTexts},
    {19, "tr", kTurkishTexts},     {20, "uk", kUkrainianTexts},  {21, "vi", kVietnameseTexts},
    {22, "ar", kEnglishTexts},     {23, "tk", kTurkmenTexts},
};

StringTable BuildStringTable() {
  StringTable table;
  for (const LanguageRow& row : kLanguageRows) {
    LanguageEntry entry;
    entry.code = NarrowString(row.code);
    for (std::size_t i = 0; i < kTextSetSize; ++i) {
      entry.texts.emplace(NarrowString(row.texts[i].identifier),
                          NarrowString(row.texts[i].text));
    }
    table.emplace(row.number, std::move(entry));
  }
  return table;
}

int current_language = 0;

// Forces the table to be built during static initialisation, before main() and so before
// any second thread exists; GetStringTable() also builds it for callers that run earlier.
[[maybe_unused]] const StringTable& built_before_main = GetStringTable();

}  // namespace

const StringTable& GetStringTable() {
  static const StringTable table = BuildStringTable();
  return table;
}

int FindLanguage(const NarrowString& code) {
  for (const auto& [number, entry] : GetStringTable()) {
    if (entry.code == code) return number;
  }
  return 0;
}

void SetCurrentLanguage(int number) { current_language = number; }

int GetCurrentLanguage() { return current_language; }

WideString LoadText(const NarrowString& identifier) {
  const StringTable& table = GetStringTable();
  const auto language = table.find(current_language);
  if (language == table.end()) return WideString();
  const auto text = language->second.texts.find(identifier);
  if (text == language->second.texts.end()) return WideString();
  return FromUtf8(text->second);
}
