#include "testing/locale_override.h"

#include <stdlib.h>

#include <clocale>

static std::string CurrentLocale() {
  const char* name = std::setlocale(LC_ALL, nullptr);
  return name != nullptr ? name : "C";
}

LocaleOverride::LocaleOverride(const char* name)
    : old_locale_(CurrentLocale()), variable_("LC_ALL", name) {}

LocaleOverride::~LocaleOverride() { std::setlocale(LC_ALL, old_locale_.c_str()); }

void LocaleOverride::Set(const char* name) {
  if (name != nullptr) {
    setenv("LC_ALL", name, 1);
  } else {
    unsetenv("LC_ALL");
  }
}
