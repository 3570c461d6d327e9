// libFuzzer target: arbitrary bytes as a kit file, inflated by both engines
// (kit/raw_inflater.h). It stops where both end a stream with different bytes. (ISA-L also
// ends some streams whose code lengths zlib rejects; see kit/raw_inflater.h.)
//
//   ./fuzz_inflate -max_total_time=30 tools/fuzz_corpus/inflate

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kit/raw_inflater.h"

namespace {

// A stream that inflates to more is cut here by both engines alike (the container's own
// limit is the reader's business).
constexpr size_t kLargestOutput = 16u << 20;

RawInflater::Status InflateAll(RawInflater::Engine engine, const uint8_t* data, size_t size,
                               std::vector<unsigned char>* output) {
  RawInflater inflater(engine);
  unsigned char piece[4096];
  const unsigned char* input = data;
  size_t input_left = size;
  RawInflater::Status status;
  bool output_was_full = false;
  do {
    unsigned char* next = piece;
    size_t space = sizeof piece;
    status = inflater.Inflate(&input, &input_left, &next, &space);
    output->insert(output->end(), piece, next);
    output_was_full = space == 0;
  } while (status == RawInflater::Status::kMore && (output_was_full || input_left > 0) &&
           output->size() <= kLargestOutput);
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> zlib, isal;
  const RawInflater::Status zlib_status =
      InflateAll(RawInflater::Engine::kZlib, data, size, &zlib);
  const RawInflater::Status isal_status =
      InflateAll(RawInflater::Engine::kIsal, data, size, &isal);
  if (isal_status == RawInflater::Status::kEnded && zlib_status == RawInflater::Status::kEnded &&
      zlib != isal) {
    std::abort();
  }
  return 0;
}
