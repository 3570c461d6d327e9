#include "install/worker_handle.h"

#include "install/install_job.h"

WorkerHandle::WorkerHandle()
    : channel_(nullptr),
      thread_(),
      creation_result_(-1),
      joinable_(false),
      ended_(true),
      completed_runs_(0),
      last_run_result_(0) {}

WorkerHandle::~WorkerHandle() {
  if (joinable_) {
    RequestStop();
    Join();
  }
}

void WorkerHandle::Start(ProgressChannel* channel) {
  if (joinable_) {
    RequestStop();
    Join();
  }
  stop_.Reset();
  channel_ = channel;
  creation_result_ = -1;
  completed_runs_.store(0);
  last_run_result_.store(0);
  ended_.store(false);
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) == 0) {
    creation_result_ = pthread_create(&thread_, &attributes, WorkerMain, this);
    pthread_attr_destroy(&attributes);
  }
  joinable_ = creation_result_ == 0;
  if (!joinable_) ended_.store(true);
}

void WorkerHandle::RequestStop() { stop_.Request(); }

void WorkerHandle::Join() {
  if (!joinable_) return;
  pthread_join(thread_, nullptr);
  joinable_ = false;
}

bool WorkerHandle::HasEnded() const { return ended_.load(); }

void* WorkerMain(void* argument) {
  WorkerHandle* handle = static_cast<WorkerHandle*>(argument);
  while (!handle->stop_.IsRequested()) {
    int32_t result;
    {
      // A fresh job, and with it fresh transaction records, for every run.
      InstallJob job(&handle->stop_);
      result = job.Run(handle->channel_);
    }
    handle->last_run_result_.store(result);
    handle->completed_runs_.fetch_add(1);
    if (result != 0) break;
  }
  // The last access to the handle: the owner may destroy it once it has joined.
  handle->ended_.store(true);
  return nullptr;
}
