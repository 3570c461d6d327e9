#include "testing/environment_override.h"

#include <stdlib.h>

EnvironmentOverride::EnvironmentOverride(const char* name, const char* value)
    : name_(name), had_old_value_(false) {
  const char* old = getenv(name);
  if (old != nullptr) {
    had_old_value_ = true;
    old_value_ = old;
  }
  Set(value);
}

EnvironmentOverride::~EnvironmentOverride() {
  Set(had_old_value_ ? old_value_.c_str() : nullptr);
}

void EnvironmentOverride::Set(const char* value) {
  if (value != nullptr) {
    setenv(name_.c_str(), value, 1);
  } else {
    unsetenv(name_.c_str());
  }
}
