// OwnFileWriters: writes a batch of entries into folders the installation run made itself,
// on two threads: the worker's own and one more.
//
// Such a file needs no journal record before it is made (nothing was there, and its folder
// goes with the rollback), so nothing but the file itself is touched while it is written: the
// batch's folders are made and opened first, on the worker thread (Prepare), and the
// transaction takes the finished files back there too (Finish). Between the two, Write runs
// both threads over the batch:
//   - each takes the next entry in table order and posts its destination and percentage
//     under one lock, so the reports stay in table order whoever writes;
//   - each writes through its own copy buffer (the kit is only read at explicit positions);
//   - the first failure, a cancel request or a stop signal (which sets the cancel request)
//     stops both before they take another entry; what either finished stays in the batch
//     and goes to the transaction, so a rollback removes everything both wrote.
// A file whose temporary name someone else took in the meantime is left to the one-file
// path, which tries the next names and records nothing more.

#ifndef INSTALL_OWN_FILE_WRITERS_H_
#define INSTALL_OWN_FILE_WRITERS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "fs/error_codes.h"
#include "install/progress_channel.h"
#include "install/transaction.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

class DistributionKit;

// A batch holds at most this many entries and folders: it bounds the open descriptors (one
// per folder) and how far the percentages can run ahead of the names that are published.
constexpr std::size_t kOwnBatchMaxEntries = 1024;
constexpr std::size_t kOwnBatchMaxFolders = 64;

class OwnFileWriters {
 public:
  // What became of one entry of the batch.
  enum class Outcome { kWaiting, kWritten, kFailed, kNameTaken };

  struct Job {
    std::size_t entry = 0;
    WideString destination;  // for the progress report
    int folder = -1;         // the folder's descriptor, one of the batch's
    PendingFile file;
    Outcome outcome = Outcome::kWaiting;
    ErrorCode code = kSuccess;
    int error_number = 0;
  };

  OwnFileWriters(Transaction* transaction, DistributionKit* kit, ProgressChannel* channel,
                 std::size_t entry_count);
  ~OwnFileWriters();
  OwnFileWriters(const OwnFileWriters&) = delete;
  OwnFileWriters& operator=(const OwnFileWriters&) = delete;

  // Adds entry (its final name relative, in a folder the run made and has made already) to
  // the batch; false with errno set when its folder cannot be opened (nothing added). False
  // too, without errno, when the batch is full (see the limits above).
  bool Add(std::size_t entry, const NarrowString& relative, const WideString& destination);
  std::size_t Size() const { return jobs_.size(); }
  bool Full(const NarrowString& folder) const;

  // Writes the batch (see above). Afterwards jobs() tells what became of each entry.
  void Write();
  const std::vector<Job>& jobs() const { return jobs_; }
  // Whether a cancel request stopped the writers, and the last entry either took.
  bool cancelled() const { return cancelled_; }
  std::size_t last_taken() const { return last_taken_; }
  // The failure that stopped them (that of the lowest entry, when both failed), or null.
  const Job* failure() const { return failure_ < jobs_.size() ? &jobs_[failure_] : nullptr; }

  // Hands every written file to the transaction (failed ones left nothing), closes the
  // folders and empties the batch for the next one.
  void Finish();

 private:
  // One thread's part: takes entries until none is left or the writers are stopped. A null
  // buffer is the kit's own.
  void WriterLoop(unsigned char* buffer);
  // Writes job through buffer; fills in its outcome.
  void WriteOne(Job* job, unsigned char* buffer);

  Transaction* transaction_;
  DistributionKit* kit_;
  ProgressChannel* channel_;
  std::size_t entry_count_;
  std::vector<Job> jobs_;
  // The batch's folders and their descriptors.
  std::vector<std::pair<NarrowString, int>> folders_;
  // The second thread's copy buffer, allocated on the first batch; left uninitialised, so
  // its pages cost nothing unless a copy cannot be made in the kernel.
  std::unique_ptr<unsigned char[]> second_buffer_;
  // Guards next_, stopped_, failure_, cancelled_ and last_taken_, and orders the reports.
  std::mutex mutex_;
  std::size_t next_ = 0;
  bool stopped_ = false;
  bool cancelled_ = false;
  std::size_t failure_ = static_cast<std::size_t>(-1);
  std::size_t last_taken_ = 0;
};

#endif  // INSTALL_OWN_FILE_WRITERS_H_
