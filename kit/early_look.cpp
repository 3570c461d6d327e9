#include "kit/early_look.h"

#include <system_error>
#include <utility>

#include "kit/container_reader.h"

EarlyLook::EarlyLook(KitLook look, uint64_t max_prefix_bytes)
    : look_(std::move(look)), max_prefix_bytes_(max_prefix_bytes) {}

EarlyLook::~EarlyLook() { Join(); }

void EarlyLook::Join() {
  if (thread_.joinable()) thread_.join();
}

void EarlyLook::Restart() {
  // A second pass over the stream is a second engine's verdict on a stream that did not end
  // cleanly: its records are not trusted to be the ones the look saw.
  if (++starts_ > 1) {
    state_ = State::kStoring;
    prefix_ = std::vector<unsigned char>();
  }
}

bool EarlyLook::Take(const unsigned char* bytes, std::size_t length) {
  if (state_ == State::kGathering) Gather(bytes, length);
  if (state_ == State::kLooking) {
    const int answer = answer_.load(std::memory_order_acquire);
    if (answer == kNothingToWrite) state_ = State::kNotStoring;
    if (answer == kSomethingToWrite) state_ = State::kStoring;
  }
  return state_ != State::kNotStoring;
}

bool EarlyLook::Finish() {
  if (state_ == State::kLooking) {
    Join();
    state_ = answer_.load(std::memory_order_acquire) == kNothingToWrite ? State::kNotStoring
                                                                         : State::kStoring;
  }
  return state_ != State::kNotStoring;
}

void EarlyLook::Gather(const unsigned char* bytes, std::size_t length) {
  const uint64_t room = max_prefix_bytes_ - prefix_.size();
  const std::size_t kept = static_cast<std::size_t>(length < room ? length : room);
  prefix_.insert(prefix_.end(), bytes, bytes + kept);
  const ContainerPrefix read = ReadContainerPrefix(prefix_.data(), prefix_.size(),
                                                   max_prefix_bytes_, &descriptions_, &entries_,
                                                   &data_start_);
  if (read == ContainerPrefix::kIncomplete) return;
  // The first bytes are needed no longer: the records are in hand, or the look is given up.
  prefix_ = std::vector<unsigned char>();
  if (read == ContainerPrefix::kComplete) {
    StartLook();
  } else {
    state_ = State::kStoring;
  }
}

void EarlyLook::StartLook() {
  state_ = State::kLooking;
  try {
    thread_ = std::thread([this] {
      int answer = kSomethingToWrite;
      try {
        if (!look_(entries_)) answer = kNothingToWrite;
      } catch (...) {
        // A look that fails has no answer: the data is stored.
      }
      answer_.store(answer, std::memory_order_release);
    });
  } catch (const std::system_error&) {
    state_ = State::kStoring;
  }
}

void EarlyLook::TakeRecords(std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                            uint64_t* data_start) {
  *descriptions = std::move(descriptions_);
  *entries = std::move(entries_);
  *data_start = data_start_;
}
