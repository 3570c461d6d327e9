// The file table read from the first inflated bytes, and the bound on the bytes kept.

#include "kit/early_look.h"

#include <gtest/gtest.h>

#include <atomic>

#include "kit/container_format.h"
#include "kit/container_reader.h"
#include "kit/inflate_kit.h"
#include "kit/little_endian.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

TEST(ReadContainerPrefixTest, IncompleteUntilTheRecordsEndThenTheTableTheReaderGives) {
  ScratchDirectory scratch;
  const Bytes container = SmallContainer();
  std::vector<KitInfo> read_descriptions;
  std::vector<KitEntry> read_entries;
  ASSERT_EQ(ReadContainerBytes(scratch, container, &read_descriptions, &read_entries), kSuccess);
  // The data area holds the six bytes of the two entries, at its end.
  const std::size_t records_end = container.size() - 6;
  std::vector<KitInfo> descriptions;
  std::vector<KitEntry> entries;
  for (std::size_t length = 0; length <= container.size(); ++length) {
    uint64_t data_start = 0;
    const ContainerPrefix read = ReadContainerPrefix(container.data(), length, 1 << 20,
                                                     &descriptions, &entries, &data_start);
    if (length < records_end) {
      EXPECT_EQ(read, ContainerPrefix::kIncomplete) << length;
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(read, ContainerPrefix::kComplete) << length;
    EXPECT_EQ(data_start, records_end);
    ASSERT_EQ(descriptions.size(), read_descriptions.size());
    ASSERT_EQ(entries.size(), read_entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_TRUE(entries[i].name == read_entries[i].name);
      EXPECT_EQ(entries[i].offset + data_start, read_entries[i].offset);
      EXPECT_EQ(entries[i].size, read_entries[i].size);
    }
  }
  // A record that breaks a check, and records that do not fit in the bound, are rejected.
  Bytes unsafe = container;
  // The last record: length, count, "two" in 6 bytes, then four fields: 30 bytes.
  unsafe[records_end - 30 + 8] = '\\';  // "\wo": an absolute name
  uint64_t data_start = 0;
  EXPECT_EQ(ReadContainerPrefix(unsafe.data(), unsafe.size(), 1 << 20, &descriptions, &entries,
                                &data_start),
            ContainerPrefix::kRejected);
  EXPECT_EQ(ReadContainerPrefix(container.data(), records_end - 1, records_end - 1,
                                &descriptions, &entries, &data_start),
            ContainerPrefix::kRejected);
  EXPECT_TRUE(entries.empty());
}

TEST(EarlyLookTest, RecordsBeyondTheBoundAreStoredWithoutALook) {
  ScratchDirectory scratch;
  const std::string kit = scratch.Child("kit.efd");
  ASSERT_TRUE(WriteWholeFile(kit, RawDeflate(SmallContainer())));
  for (const uint64_t bound : {uint64_t{16}, uint64_t{1} << 20}) {
    std::atomic<int> looks{0};
    EarlyLook look([&looks](const std::vector<KitEntry>&) { return ++looks, false; }, bound);
    KitStreamEnd end;
    ASSERT_TRUE(WriteWholeFile(scratch.Child("container.bin"), Bytes()));
    FileHandle container = kNoFileHandle;
    ASSERT_EQ(FileOpen(scratch.Wide("container.bin"), kFileAccessWrite, 0, kFileOpenExisting,
                       &container, kNormalFileAttributes),
              kSuccess);
    ASSERT_EQ(InflateKitInto(WideFromUtf8(kit), container, nullptr, kMaxContainerBytes, &end,
                             &look),
              kSuccess);
    FileClose(container);
    look.Join();
    const bool small_bound = bound == 16;
    EXPECT_EQ(looks.load(), small_bound ? 0 : 1) << bound;
    EXPECT_EQ(end.stored, small_bound) << bound;
    EXPECT_EQ(end.container_bytes, SmallContainer().size());
    EXPECT_EQ(ReadWholeFileBytes(scratch.Child("container.bin")).size(),
              small_bound ? SmallContainer().size() : 0u);
  }
}
