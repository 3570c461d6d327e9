#include "ui/background_checks.h"

#include <system_error>

BackgroundChecks::~BackgroundChecks() { Join(); }

void BackgroundChecks::Join() {
  if (!thread_.joinable()) return;
  thread_.join();
  done_ = true;
}

bool BackgroundChecks::Start() {
  if (done_ || thread_.joinable() || !checks_) return false;
  try {
    thread_ = std::thread(checks_);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void BackgroundChecks::Wait() {
  if (done_) return;
  if (thread_.joinable()) {
    thread_.join();
  } else if (checks_) {
    checks_();
  }
  done_ = true;
}
