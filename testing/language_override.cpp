#include "testing/language_override.h"

#include "app/string_table.h"

LanguageOverride::LanguageOverride(const char* code) : old_language_(GetCurrentLanguage()) {
  SetCurrentLanguage(FindLanguage(NarrowString(code)));
}

LanguageOverride::~LanguageOverride() { SetCurrentLanguage(old_language_); }
