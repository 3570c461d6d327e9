// EarlyLook: a caller's look at the file table while the rest of the kit still inflates, and
// the verdict whether the container's data area is stored at all.
//
// The container's records come before its data area. EarlyLook keeps the first inflated
// bytes in memory, at most max_prefix_bytes of them, until the records are complete; it
// reads them with the container reader's own checks (ReadContainerPrefix) and hands the
// file table to the look on a thread of its own, while the inflation goes on. Once the look
// answers that no entry needs writing, Take says that the data is no longer to be stored, or,
// when the stream ended first, Finish says that what was stored goes again.
//
// The look is only a forecast: whatever it says, the stream is still inflated to its end,
// so its digest, its trailer and its DEFLATE validity are judged as for any kit. Anything
// that keeps the answer open stores the data as always: records that are not complete
// within the bound or break a check, a look that says something needs writing or throws, a
// thread that cannot be started, and an inflation that starts over (a second engine judging
// the stream).
//
// The look's thread is joined by Join, and at the latest by the destructor, so no path of
// the opening leaves it running.

#ifndef KIT_EARLY_LOOK_H_
#define KIT_EARLY_LOOK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "kit/inflate_kit.h"
#include "kit/kit_records.h"

// The forecast of an installation: true when some entry of the file table would be
// written. Entry offsets are relative to the data area. Called on a thread of its own.
using KitLook = std::function<bool(const std::vector<KitEntry>& entries)>;

// Records beyond this many bytes take the normal path: the container is stored whole.
constexpr uint64_t kMaxEarlyRecordBytes = 4u << 20;

class EarlyLook : public InflateWatch {
 public:
  explicit EarlyLook(KitLook look, uint64_t max_prefix_bytes = kMaxEarlyRecordBytes);
  ~EarlyLook() override;
  EarlyLook(const EarlyLook&) = delete;
  EarlyLook& operator=(const EarlyLook&) = delete;

  void Restart() override;
  bool Take(const unsigned char* bytes, std::size_t length) override;
  // Waits for the look's answer: the opening waits for it anyway, and an answer that came
  // late still frees what was stored.
  bool Finish() override;

  // Waits for the look's thread, if one was started.
  void Join();

  // After Take answered false: the records read from the first bytes (entry offsets still
  // relative to the data area) and where the data area starts. Call after Join.
  void TakeRecords(std::vector<KitInfo>* descriptions, std::vector<KitEntry>* entries,
                   uint64_t* data_start);

 private:
  enum class State {
    kGathering,   // keeping the first bytes until the records are complete
    kLooking,     // the records are complete; the look has the table
    kNotStoring,  // the look found nothing to write: the data is not stored
    kStoring,     // the data is stored whatever comes
  };
  enum Answer : int { kNoAnswer, kNothingToWrite, kSomethingToWrite };

  void Gather(const unsigned char* bytes, std::size_t length);
  void StartLook();

  KitLook look_;
  uint64_t max_prefix_bytes_;
  State state_ = State::kGathering;
  int starts_ = 0;
  std::vector<unsigned char> prefix_;
  std::vector<KitInfo> descriptions_;
  // Read by the look's thread from its start to its join; not changed in between.
  std::vector<KitEntry> entries_;
  uint64_t data_start_ = 0;
  std::atomic<int> answer_{kNoAnswer};
  std::thread thread_;
};

#endif  // KIT_EARLY_LOOK_H_
