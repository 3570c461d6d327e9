#include "ui/font_warm_up.h"

#include <fontconfig/fontconfig.h>

#include <cstring>

FontWarmUp::FontWarmUp()
    : thread_(), started_(false), joinable_(false), initialised_(false), outcome_(false) {}

FontWarmUp::~FontWarmUp() { Finish(); }

bool FontWarmUp::Start() {
  if (started_) return false;
  started_ = true;
  joinable_ = pthread_create(&thread_, nullptr, Main, this) == 0;
  return joinable_;
}

bool FontWarmUp::Finish() {
  if (joinable_) {
    // Only a completed join makes the thread's result readable.
    outcome_ = pthread_join(thread_, nullptr) == 0 && initialised_;
    joinable_ = false;
  }
  return outcome_;
}

void* FontWarmUp::Main(void* argument) {
  FontWarmUp* warm_up = static_cast<FontWarmUp*>(argument);
  warm_up->initialised_ = FcInit() == FcTrue;
  return nullptr;
}

bool WorkBesideGtkStartWanted(const char* display_variable, const char* startup_id,
                      int argument_count, char** argument_vector) {
  if (startup_id != nullptr && startup_id[0] != '\0') return false;
  if (display_variable != nullptr && display_variable[0] != '\0') return true;
  for (int i = 1; i < argument_count; ++i) {
    const char* argument = argument_vector[i];
    if (std::strcmp(argument, "--display") == 0 ||
        std::strncmp(argument, "--display=", 10) == 0) {
      return true;
    }
  }
  return false;
}
