#include "testing/locale_override.h"

#include <clocale>

static std::string CurrentLocale() {
  const char* name = std::setlocale(LC_ALL, nullptr);
  return name != nullptr ? name : "C";
}

LocaleOverride::LocaleOverride(const char* name)
    : old_locale_(CurrentLocale()), variable_("LC_ALL", name) {}

LocaleOverride::~LocaleOverride() { std::setlocale(LC_ALL, old_locale_.c_str()); }

void LocaleOverride::Set(const char* name) { variable_.Set(name); }
