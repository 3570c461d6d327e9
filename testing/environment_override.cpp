#include "testing/environment_override.h"

#include <stdlib.h>

EnvironmentOverride::EnvironmentOverride(const char* name, const char* value)
    : name_(name), had_old_value_(false) {
  const char* old = getenv(name);
  if (old != nullptr) {
    had_old_value_ = true;
    old_value_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

EnvironmentOverride::~EnvironmentOverride() {
  if (had_old_value_) {
    setenv(name_.c_str(), old_value_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}
