#include "ui/run_tally.h"

void RunTally::EntryDone(const WideString& path, EntryAction action) {
  switch (action) {
    case EntryAction::kNew:
      ++new_;
      break;
    case EntryAction::kReplaced:
      ++replaced_;
      break;
    case EntryAction::kUpToDate:
      ++up_to_date_;
      break;
  }
  // A record is made only for a log that takes it: a run has an entry per file.
  if (log_ != nullptr && log_->IsOpen()) {
    log_->Write(RunLog::Record("entry").Text("path", path).Bytes("action",
                                                                NarrowString(EntryActionName(action))));
  }
}

void RunTally::RolledBack(bool complete, const NarrowString& kept_folder) {
  if (log_ == nullptr || !log_->IsOpen()) return;
  RunLog::Record record("rollback");
  record.Flag("complete", complete);
  if (!complete) record.Bytes("kept", kept_folder);
  log_->Write(record);
}

void RunTally::Reset() {
  new_ = 0;
  replaced_ = 0;
  up_to_date_ = 0;
}

uint64_t RunTally::Count(EntryAction action) const {
  switch (action) {
    case EntryAction::kNew:
      return new_.load();
    case EntryAction::kReplaced:
      return replaced_.load();
    case EntryAction::kUpToDate:
      break;
  }
  return up_to_date_.load();
}

uint64_t RunTally::Done() const { return new_.load() + replaced_.load() + up_to_date_.load(); }
