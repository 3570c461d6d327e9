#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kit/container_format.h"
#include "kit/distribution_kit.h"
#include "kit/kit_test_access.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

class ExtractEntryTest : public ::testing::Test {
 protected:
  void OpenWriter(const KitWriter& writer) {
    ASSERT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), RawDeflate(ContainerBytesOf(writer))));
    ASSERT_EQ(kit_.Open(scratch_.Wide("kit.efd")), kSuccess) << kit_.FailureReason().CStr();
  }
  void TearDown() override { kit_.DiscardContainer(); }

  static struct stat StatusOf(const std::string& path) {
    struct stat status = {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
  }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  DistributionKit kit_;
};

TEST_F(ExtractEntryTest, CopiesContentsAndStampsBothTimes) {
  KitWriter writer;
  writer.AddEntry(WideString(u"a\\b.txt"), FileTimeFromValue(132223104000000000ull + 9999999),
                  Bytes{'a', 'b', 'c'});
  OpenWriter(writer);
  ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("out.txt")), kSuccess);
  // Taken before the file is read, which may move its access time.
  const struct stat status = StatusOf(scratch_.Child("out.txt"));
  EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("out.txt")), (Bytes{'a', 'b', 'c'}));
  // Rounded down to whole seconds.
  EXPECT_EQ(status.st_mtime, 1577836800);
  EXPECT_EQ(status.st_atime, 1577836800);
  EXPECT_EQ(status.st_mtim.tv_nsec, 0);
}

TEST_F(ExtractEntryTest, TimeBefore1970IsStampedAsANegativeSystemTime) {
  KitWriter writer;
  writer.AddEntry(WideString(u"old"), TimeOf(-86400), Bytes{'o'});
  OpenWriter(writer);
  ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("old")), kSuccess);
  EXPECT_EQ(StatusOf(scratch_.Child("old")).st_mtime, -86400);
}

TEST_F(ExtractEntryTest, EntriesLargerThanTheCopyBufferArriveWhole) {
  const Bytes big = PatternBytes(3 * kCopyBufferBytes + 12345, 11);
  const Bytes exact = PatternBytes(kCopyBufferBytes, 12);
  KitWriter writer;
  writer.AddEntry(WideString(u"big"), TimeOf(100), big);
  writer.AddEntry(WideString(u"exact"), TimeOf(100), exact);
  OpenWriter(writer);
  ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("big")), kSuccess);
  ASSERT_EQ(kit_.ExtractEntry(1, scratch_.Wide("exact")), kSuccess);
  EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("big")), big);
  EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("exact")), exact);
}

TEST_F(ExtractEntryTest, WhereTheKernelCannotCopyTheEntryIsCopiedThroughTheBuffer) {
  // A pipe is a destination copy_file_range refuses; the second entry checks that the copy
  // reads at the entry's own offset.
  const Bytes second = PatternBytes(20000, 5);
  KitWriter writer;
  writer.AddEntry(WideString(u"first"), TimeOf(1), PatternBytes(3000, 4));
  writer.AddEntry(WideString(u"second"), TimeOf(1), second);
  OpenWriter(writer);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  EXPECT_EQ(kit_.CopyEntryTo(1, pipe_ends[1], true), kSuccess);
  close(pipe_ends[1]);
  Bytes arrived(second.size() + 1);
  std::size_t filled = 0;
  for (ssize_t got; (got = read(pipe_ends[0], arrived.data() + filled,
                                arrived.size() - filled)) > 0;) {
    filled += static_cast<std::size_t>(got);
  }
  close(pipe_ends[0]);
  arrived.resize(filled);
  EXPECT_EQ(arrived, second);
}

TEST_F(ExtractEntryTest, EmptyEntryEmptiesAnExistingFileAndStampsIt) {
  KitWriter writer;
  writer.AddEntry(WideString(u"empty"), TimeOf(1234567), Bytes());
  OpenWriter(writer);
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("empty"), Bytes(5000, 'x')));
  ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("empty")), kSuccess);
  const struct stat status = StatusOf(scratch_.Child("empty"));
  EXPECT_EQ(status.st_size, 0);
  EXPECT_EQ(status.st_mtime, 1234567);
}

TEST_F(ExtractEntryTest, LongerExistingFileEndsWhereTheEntryEnds) {
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), Bytes{'n', 'e', 'w'});
  OpenWriter(writer);
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("f"), Bytes(100, 'o')));
  ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("f")), kSuccess);
  EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("f")), (Bytes{'n', 'e', 'w'}));
}

TEST_F(ExtractEntryTest, EntriesExtractInAnyOrder) {
  const Bytes first = PatternBytes(1500000, 1), second = PatternBytes(70000, 2);
  KitWriter writer;
  writer.AddEntry(WideString(u"1"), TimeOf(1), first);
  writer.AddEntry(WideString(u"2"), TimeOf(2), second);
  OpenWriter(writer);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(kit_.ExtractEntry(1, scratch_.Wide("two")), kSuccess);
    ASSERT_EQ(kit_.ExtractEntry(0, scratch_.Wide("one")), kSuccess);
    ASSERT_EQ(kit_.ExtractEntry(1, scratch_.Wide("two")), kSuccess);
    EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("one")), first);
    EXPECT_EQ(ReadWholeFileBytes(scratch_.Child("two")), second);
  }
}

TEST_F(ExtractEntryTest, MissingDirectoryIsNotFoundAndLeaksNoHandle) {
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), Bytes{'x'});
  OpenWriter(writer);
  const int before = OpenDescriptorCount();
  EXPECT_EQ(kit_.ExtractEntry(0, scratch_.Wide("no/dir/f")), kErrorNotFound);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(ExtractEntryTest, IndexOutsideTheTableIsInvalidParameter) {
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), Bytes{'x'});
  OpenWriter(writer);
  EXPECT_EQ(kit_.ExtractEntry(1, scratch_.Wide("f")), kErrorInvalidParameter);
  struct stat status;
  EXPECT_NE(stat(scratch_.Child("f").c_str(), &status), 0);
}

TEST_F(ExtractEntryTest, ContainerShorterThanTheEntryFailsInsteadOfLooping) {
  const Bytes data = PatternBytes(2 * kCopyBufferBytes, 3);
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), data);
  OpenWriter(writer);
  // The container loses its tail after Open checked it (a second guard).
  ASSERT_EQ(ftruncate(static_cast<int>(KitTestAccess::ContainerHandle(kit_)),
                      kit_.Entry(0).offset + kCopyBufferBytes + 10),
            0);
  const int before = OpenDescriptorCount();
  EXPECT_EQ(kit_.ExtractEntry(0, scratch_.Wide("f")), kErrorInvalidData);
  EXPECT_EQ(OpenDescriptorCount(), before);
  // The destination stays, with the bytes the container still had: the installation's
  // rollback decides what becomes of it.
  EXPECT_EQ(StatusOf(scratch_.Child("f")).st_size, static_cast<off_t>(kCopyBufferBytes + 10));
}

TEST_F(ExtractEntryTest, FailedWriteIsReportedAndLeaksNoHandle) {
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), Bytes(10, 'x'));
  OpenWriter(writer);
  const int before = OpenDescriptorCount();
  // /dev/full fails every write with ENOSPC: a full disk, not some other failure.
  EXPECT_EQ(kit_.ExtractEntry(0, WideString(u"/dev/full")), kErrorDiskFull);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(ExtractEntryTest, DiscardedContainerLeavesNothingToExtract) {
  KitWriter writer;
  writer.AddEntry(WideString(u"f"), TimeOf(1), Bytes(10, 'x'));
  OpenWriter(writer);
  kit_.DiscardContainer();
  EXPECT_EQ(kit_.EntryCount(), 0u);
  EXPECT_EQ(kit_.ExtractEntry(0, scratch_.Wide("f")), kErrorInvalidParameter);
}
