// libFuzzer target: arbitrary bytes as a work folder's journal, which a start reads back
// after a crash (install/journal.h). Whatever records the bytes give must encode back to the
// very bytes they came from: a record that decodes to something else would make a rollback
// act on a path or identity the run never wrote.
//
//   ./fuzz_journal -max_total_time=30 tools/fuzz_corpus/journal

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install/journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::vector<JournalRecord> records;
  if (!DecodeJournal(bytes, size, &records)) return 0;
  if (size < kJournalMagicBytes) {
    if (!records.empty()) std::abort();
    return 0;
  }
  NarrowString encoded(kJournalMagic);
  for (const JournalRecord& record : records) EncodeJournalRecord(record, &encoded);
  // The records are a prefix of the input, byte for byte.
  if (encoded.Length() > size || std::memcmp(encoded.Data(), bytes, encoded.Length()) != 0) {
    std::abort();
  }
  return 0;
}
