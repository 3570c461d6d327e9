// LanguageOverride: makes a language the one LoadText uses for the lifetime of the object
// and puts the old one back afterwards.

#ifndef TESTING_LANGUAGE_OVERRIDE_H_
#define TESTING_LANGUAGE_OVERRIDE_H_

class LanguageOverride {
 public:
  // code is a language code of the string table; "en" gives the English texts.
  explicit LanguageOverride(const char* code);
  ~LanguageOverride();
  LanguageOverride(const LanguageOverride&) = delete;
  LanguageOverride& operator=(const LanguageOverride&) = delete;

 private:
  int old_language_;
};

#endif  // TESTING_LANGUAGE_OVERRIDE_H_
