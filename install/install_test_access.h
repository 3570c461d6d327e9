// InstallTestAccess: what the installation engine's tests (and the installation benchmark)
// look at or steer beyond the engine's interface: the records a transaction has kept and the
// directories it made, the transaction of a job, the runs a worker has finished, and the
// cancel request that no part of the program sets. Only tests include this header.

#ifndef INSTALL_INSTALL_TEST_ACCESS_H_
#define INSTALL_INSTALL_TEST_ACCESS_H_

#include <cstdint>
#include <vector>

#include "install/install_job.h"
#include "install/journal.h"
#include "install/progress_channel.h"
#include "install/transaction.h"
#include "install/worker_handle.h"
#include "text/narrow_string.h"

class InstallTestAccess {
 public:
  // The records of the run so far.
  static const std::vector<JournalRecord>& Records(const Transaction& transaction) {
    return transaction.records_;
  }
  // The directories the run made (relative, in the order made, outermost first).
  static const std::vector<NarrowString>& CreatedDirectories(const Transaction& transaction) {
    return transaction.created_directories_;
  }
  // Whether the run made the template directory itself.
  static bool MadeTarget(const Transaction& transaction) { return transaction.made_target_; }

  static const Transaction& TransactionOf(const InstallJob& job) { return job.transaction_; }

  // Runs WorkerMain has finished since the last Start, and the result of the last of them
  // (0 until one finished).
  static uint32_t CompletedRuns(const WorkerHandle& handle) {
    return handle.completed_runs_.load();
  }
  static int32_t LastRunResult(const WorkerHandle& handle) {
    return handle.last_run_result_.load();
  }

  // Sets the channel's cancel request: the running job rolls back and ends with 1223 after
  // its current file, without a report. Start clears it.
  static void RequestCancel(ProgressChannel* channel) {
    ProgressChannel::Hold hold(channel);
    channel->cancel_requested_ = true;
  }
};

#endif  // INSTALL_INSTALL_TEST_ACCESS_H_
