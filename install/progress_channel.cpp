#include "install/progress_channel.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

ProgressChannel::ProgressChannel()
    : kit_(nullptr),
      cancel_requested_(false),
      result_code_(0),
      percent_(0),
      directory_changed_(false),
      lock_made_(false),
      observer_(nullptr),
      observer_context_(nullptr) {
  std::memset(&lock_, 0, sizeof(lock_));
}

ProgressChannel::~ProgressChannel() {
  if (lock_made_) sem_destroy(&lock_);
}

ProgressChannel::Hold::Hold(ProgressChannel* channel) : channel_(channel) {
  // A signal may interrupt the wait; only a real acquisition counts. Any other failure means
  // the channel was used before Init: going on without the lock would let both threads into
  // the record, so the program stops instead.
  while (sem_wait(&channel_->lock_) != 0) {
    if (errno != EINTR) std::abort();
  }
}

ProgressChannel::Hold::~Hold() { sem_post(&channel_->lock_); }

void ProgressChannel::Init() {
  if (!lock_made_) {
    // A private semaphore of value 1 cannot fail to be made; should it, nothing is safe.
    if (sem_init(&lock_, 0, 1) != 0) std::abort();
    lock_made_ = true;
  }
  Hold hold(this);
  message_.Clear();
  target_directory_ = TargetDirectory();
}

void ProgressChannel::Start(DistributionKit* kit, const WideString& target) {
  Start(kit, TargetDirectory(target));
}

void ProgressChannel::Start(DistributionKit* kit, const TargetDirectory& target) {
  Hold hold(this);
  cancel_requested_ = false;
  result_code_ = 0;
  percent_ = 0;
  directory_changed_ = false;
  cause_ = Status();
  kit_ = kit;
  target_directory_ = target;
}

void ProgressChannel::TakeJob(DistributionKit** kit, TargetDirectory* target) {
  Hold hold(this);
  *kit = kit_;
  *target = target_directory_;
}

void ProgressChannel::TakeJob(DistributionKit** kit, WideString* target) {
  Hold hold(this);
  *kit = kit_;
  *target = target_directory_.Text();
}

bool ProgressChannel::IsCancelRequested() {
  Hold hold(this);
  return cancel_requested_;
}

void ProgressChannel::RequestCancel() {
  Hold hold(this);
  cancel_requested_ = true;
}

void ProgressChannel::Post(int32_t code, const WideString& message, int32_t percent,
                           bool directory_changed, const Status& cause) {
  {
    Hold hold(this);
    result_code_ = code;
    message_ = message;
    percent_ = percent;
    directory_changed_ = directory_changed;
    note_ = false;
    cause_ = cause;
  }
  if (observer_ != nullptr) observer_(observer_context_, code, message, percent);
}

void ProgressChannel::PostNote(const WideString& text) {
  {
    Hold hold(this);
    result_code_ = 0;
    message_ = text;
    percent_ = 0;
    directory_changed_ = false;
    note_ = true;
    cause_ = Status();
  }
  if (observer_ != nullptr) observer_(observer_context_, 0, text, 0);
}

ProgressReport ProgressChannel::Read() {
  Hold hold(this);
  return ProgressReport{result_code_, message_, percent_, directory_changed_, note_, cause_};
}

void ProgressChannel::SetObserver(ProgressObserver observer, void* context) {
  observer_ = observer;
  observer_context_ = context;
}
