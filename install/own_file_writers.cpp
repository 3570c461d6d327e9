#include "install/own_file_writers.h"

#include <errno.h>
#include <unistd.h>

#include <thread>

#include "fs/beneath.h"
#include "install/relative_path.h"
#include "install/install_job.h"
#include "kit/container_format.h"
#include "kit/distribution_kit.h"

OwnFileWriters::OwnFileWriters(Transaction* transaction, DistributionKit* kit,
                               ProgressChannel* channel, std::size_t entry_count)
    : transaction_(transaction), kit_(kit), channel_(channel), entry_count_(entry_count) {}

OwnFileWriters::~OwnFileWriters() {
  for (auto& folder : folders_) close(folder.second);
}

bool OwnFileWriters::Full(const NarrowString& folder) const {
  if (jobs_.size() >= kOwnBatchMaxEntries) return true;
  if (!folders_.empty() && folders_.back().first == folder) return false;
  for (const auto& known : folders_) {
    if (known.first == folder) return false;
  }
  return folders_.size() >= kOwnBatchMaxFolders;
}

bool OwnFileWriters::Add(std::size_t entry, const NarrowString& relative,
                         const WideString& destination) {
  const NarrowString folder = RelativeParent(relative);
  if (Full(folder)) return false;
  int descriptor = -1;
  for (auto known = folders_.rbegin(); known != folders_.rend(); ++known) {
    if (known->first == folder) {
      descriptor = known->second;
      break;
    }
  }
  if (descriptor < 0) {
    descriptor = transaction_->OpenOwnFolder(folder);
    if (descriptor < 0) return false;
    folders_.emplace_back(folder, descriptor);
  }
  Job job;
  job.entry = entry;
  job.destination = destination;
  job.folder = descriptor;
  transaction_->PrepareOwnFile(relative, &job.file);
  jobs_.push_back(std::move(job));
  return true;
}

void OwnFileWriters::Write() {
  next_ = 0;
  stopped_ = false;
  cancelled_ = false;
  failure_ = static_cast<std::size_t>(-1);
  if (jobs_.size() < 2) {
    WriterLoop(nullptr);
    return;
  }
  if (!second_buffer_) second_buffer_.reset(new unsigned char[kCopyBufferBytes]);
  std::thread second(&OwnFileWriters::WriterLoop, this, second_buffer_.get());
  WriterLoop(nullptr);
  second.join();
}

void OwnFileWriters::WriterLoop(unsigned char* buffer) {
  for (;;) {
    Job* job = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_ || next_ >= jobs_.size()) return;
      job = &jobs_[next_++];
      last_taken_ = job->entry;
      channel_->Post(0, job->destination, InstallJob::Percentage(job->entry, entry_count_));
    }
    WriteOne(job, buffer);
    const bool failed = job->outcome == Outcome::kFailed;
    // Asked outside the lock: the channel has its own.
    const bool cancel = !failed && channel_->IsCancelRequested();
    if (failed || cancel) {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
      // Entries are taken in table order and each taken one is finished, so the lowest
      // failing entry is the one a single writer would have failed at.
      const std::size_t index = static_cast<std::size_t>(job - &jobs_[0]);
      if (failed && (failure_ >= jobs_.size() || index < failure_)) failure_ = index;
      if (cancel) cancelled_ = true;
      return;
    }
  }
}

void OwnFileWriters::WriteOne(Job* job, unsigned char* buffer) {
  PendingFile& file = job->file;
  int descriptor = Transaction::CreateTempFile(job->folder, file);
  if (descriptor < 0) {
    job->error_number = errno;
    job->outcome = job->error_number == EEXIST ? Outcome::kNameTaken : Outcome::kFailed;
    job->code = ErrorCodeFromErrno(job->error_number);
    return;
  }
  file.created = true;
  errno = 0;
  ErrorCode code = buffer == nullptr
                       ? kit_->CopyEntryTo(job->entry, static_cast<FileHandle>(descriptor), true)
                       : kit_->CopyEntryTo(job->entry, static_cast<FileHandle>(descriptor), true,
                                           buffer);
  int error_number = errno;
  // The identity of the file as written and stamped; it does not change with the close.
  if (code == kSuccess && !IdentityOf(descriptor, &file.identity)) {
    error_number = errno;
    code = ErrorCodeFromErrno(error_number);
  }
  errno = 0;
  const ErrorCode closed = Transaction::CloseTempFile(&descriptor);
  if (code == kSuccess && closed != kSuccess) {
    code = closed;
    error_number = errno;
  }
  if (code != kSuccess) {
    unlinkat(job->folder, NameOf(file.temp_relative), 0);
    file.created = false;
    job->code = code;
    job->error_number = error_number;
    job->outcome = Outcome::kFailed;
    return;
  }
  job->outcome = Outcome::kWritten;
}

void OwnFileWriters::Finish() {
  for (Job& job : jobs_) {
    if (job.outcome == Outcome::kWritten) transaction_->AdoptFile(&job.file);
  }
  jobs_.clear();
  for (auto& folder : folders_) close(folder.second);
  folders_.clear();
}
