#include "install/temp_names.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "install/journal_format.h"
#include "install/relative_path.h"

TempNames::TempNames() {
  uint64_t number = 0;
  if (getrandom(&number, sizeof number, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof number)) {
    // Without the kernel's generator the clock and the process number keep runs apart; the
    // exclusive creation keeps them safe either way.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    number = (static_cast<uint64_t>(now.tv_sec) << 30) ^ static_cast<uint64_t>(now.tv_nsec) ^
             (static_cast<uint64_t>(getpid()) << 40);
  }
  std::snprintf(run_, sizeof run_, "%016llx", static_cast<unsigned long long>(number));
}

NarrowString TempNames::Next(const NarrowString& relative_directory) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%s-%llu", kTempNamePrefix, run_,
                static_cast<unsigned long long>(++counter_));
  return JoinPath(relative_directory, NarrowString(name));
}

bool IsTempNameOfRun(const char* name, const NarrowString& run_number) {
  const std::size_t prefix = sizeof kTempNamePrefix - 1;
  if (run_number.Length() != kRunNumberBytes) return false;
  return std::strncmp(name, kTempNamePrefix, prefix) == 0 &&
         std::strncmp(name + prefix, run_number.CStr(), kRunNumberBytes) == 0 &&
         name[prefix + kRunNumberBytes] == '-';
}

bool HasTempNameForm(const char* name) {
  const std::size_t prefix = sizeof kTempNamePrefix - 1;
  if (std::strncmp(name, kTempNamePrefix, prefix) != 0) return false;
  const char* p = name + prefix;
  for (std::size_t i = 0; i < kRunNumberBytes; ++i, ++p) {
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
  }
  if (*p++ != '-' || *p == '\0') return false;
  for (; *p != '\0'; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}
