// EnvironmentOverride: sets or clears one environment variable for the lifetime of the
// object and restores the old value (or its absence) afterwards.

#ifndef TESTING_ENVIRONMENT_OVERRIDE_H_
#define TESTING_ENVIRONMENT_OVERRIDE_H_

#include <string>

class EnvironmentOverride {
 public:
  // A null value clears the variable.
  EnvironmentOverride(const char* name, const char* value);
  ~EnvironmentOverride();
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  // Sets the variable to value while the object lives; a null value clears it. The
  // destructor still restores what was there first.
  void Set(const char* value);

  // The value the variable had before, or an empty string.
  const std::string& OldValue() const { return old_value_; }

 private:
  std::string name_;
  bool had_old_value_;
  std::string old_value_;
};

#endif  // TESTING_ENVIRONMENT_OVERRIDE_H_
