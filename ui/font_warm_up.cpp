#include "ui/font_warm_up.h"

#include <fontconfig/fontconfig.h>


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
