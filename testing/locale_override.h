// LocaleOverride: runs a test under the locale named by LC_ALL. The conversions of the code
// under test set the process locale from the environment, so a test changes both the
// variable and, through them, the C library's locale; the object puts both back on
// destruction, so that no test leaves its locale to the tests after it.

#ifndef TESTING_LOCALE_OVERRIDE_H_
#define TESTING_LOCALE_OVERRIDE_H_

#include <string>

#include "testing/environment_override.h"

class LocaleOverride {
 public:
  // Sets LC_ALL to name; a null name clears it.
  explicit LocaleOverride(const char* name);
  ~LocaleOverride();
  LocaleOverride(const LocaleOverride&) = delete;
  LocaleOverride& operator=(const LocaleOverride&) = delete;

  // Sets LC_ALL to another name; the destructor still restores what was there first.
  void Set(const char* name);

 private:
  // setlocale(LC_ALL, nullptr) when the object was made: every category's locale.
  std::string old_locale_;
  EnvironmentOverride variable_;
};

#endif  // TESTING_LOCALE_OVERRIDE_H_
