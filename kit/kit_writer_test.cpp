#include "kit/kit_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "kit/container_format.h"
#include "kit/distribution_kit.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

TEST(KitWriterTest, WorkedExampleIsByteForByteTheDefinedContainer) {
  const KitWriter writer = WorkedExampleWriter();
  EXPECT_EQ(ContainerBytesOf(writer), WorkedExampleContainer());
  EXPECT_EQ(writer.ContainerBytes(), 91u);
}

TEST(KitWriterTest, WorkedExampleKitInflatesToTheDefinedContainer) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_EQ(WorkedExampleWriter().WriteKit(scratch.Wide("example.efd")), kSuccess);
  EXPECT_EQ(RawInflate(ReadWholeFileBytes(scratch.Child("example.efd"))), WorkedExampleContainer());
}

TEST(KitWriterTest, WorkedExampleReadsBackAsDefined) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_EQ(WorkedExampleWriter().WriteKit(scratch.Wide("example.efd")), kSuccess);
  DistributionKit kit;
  ASSERT_EQ(kit.Open(scratch.Wide("example.efd")), kSuccess) << kit.FailureReason().CStr();
  ASSERT_EQ(kit.EntryCount(), 1u);
  const KitEntry& entry = kit.Entry(0);
  EXPECT_TRUE(entry.name == WideString(u"a\\b.txt"));
  EXPECT_EQ(entry.offset, 88u);
  EXPECT_EQ(entry.size, 3u);
  EXPECT_EQ(FileTimeValue(entry.time), 132223104000000000ull);
  EXPECT_EQ(SystemSecondsFromFileTime(entry.time), 1577836800);
  WideString product, vendor;
  kit.GetProductInfo(WideString(u"en"), &product, &vendor);
  EXPECT_TRUE(product == WideString(u"P"));
  EXPECT_TRUE(vendor == WideString(u"V"));
  EXPECT_TRUE(kit.GetDescriptionDocument(WideString(u"en")) == WideString(u"d.htm"));
  kit.DiscardContainer();
}

TEST(KitWriterTest, LayoutAStoresThreeStringsWithoutLanguage) {
  KitWriter writer(kLayoutSingleDescription);
  writer.AddDescription(
      KitInfo{WideString(u"ru"), WideString(u"P"), WideString(u""), WideString(u"d")});
  const Bytes expected{0, 0, 0, 0,          // layout A
                       1, 0, 0, 0, 'P', 0,  // product
                       0, 0, 0, 0,          // vendor (empty)
                       1, 0, 0, 0, 'd', 0,  // document
                       0, 0, 0, 0};         // no entries
  EXPECT_EQ(ContainerBytesOf(writer), expected);
  EXPECT_EQ(writer.ContainerBytes(), expected.size());
}

TEST(KitWriterTest, LayoutAWithoutDescriptionStoresEmptyStrings) {
  const KitWriter writer(kLayoutSingleDescription);
  EXPECT_EQ(ContainerBytesOf(writer), Bytes(20, 0));
}

TEST(KitWriterTest, LayoutAWithTwoDescriptionsFails) {
  KitWriter writer(kLayoutSingleDescription);
  writer.AddDescription(KitInfo{});
  writer.AddDescription(KitInfo{});
  MemorySink sink;
  NarrowString failure;
  EXPECT_EQ(writer.WriteTo(&sink, &failure), kErrorInvalidParameter);
  EXPECT_FALSE(failure.Empty());
}

TEST(KitWriterTest, DataOffsetsFollowEachOtherInEntryOrder) {
  KitWriter writer(kLayoutPerLanguage);
  writer.AddEntry(WideString(u"a"), TimeOf(0), Bytes(5, 'x'));
  writer.AddEntry(WideString(u"b"), TimeOf(0), Bytes(7, 'y'));
  const Bytes container = ContainerBytesOf(writer);
  // flag, M = 0, N = 2, then two records of 26 bytes each.
  const std::size_t first = 12, second = first + 26;
  EXPECT_EQ(container[first + 18], 0);   // offset of "a"
  EXPECT_EQ(container[first + 22], 5);   // size of "a"
  EXPECT_EQ(container[second + 18], 5);  // offset of "b"
  EXPECT_EQ(container[second + 22], 7);  // size of "b"
  EXPECT_EQ(container.size(), second + 26 + 12);
}

TEST(KitWriterTest, FileEntriesAreStreamedFromTheirFiles) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  const Bytes contents = PatternBytes(300000, 7);
  ASSERT_TRUE(WriteWholeFile(scratch.Child("source"), contents));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("empty"), Bytes()));
  KitWriter writer;
  ASSERT_EQ(writer.AddFileEntry(WideString(u"big"), TimeOf(5), scratch.Wide("source")),
            kSuccess);
  ASSERT_EQ(writer.AddFileEntry(WideString(u"empty"), TimeOf(5),
                                scratch.Wide("empty")),
            kSuccess);
  const Bytes container = ContainerBytesOf(writer);
  ASSERT_EQ(container.size(), writer.ContainerBytes());
  EXPECT_TRUE(std::equal(contents.begin(), contents.end(), container.end() - contents.size()));
}

TEST(KitWriterTest, MissingSourceFileIsReported) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  KitWriter writer;
  EXPECT_EQ(writer.AddFileEntry(WideString(u"x"), TimeOf(0), scratch.Wide("missing")),
            kErrorNotFound);
}

TEST(KitWriterTest, SourceThatChangedSizeFailsAndLeavesNoKit) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_TRUE(WriteWholeFile(scratch.Child("source"), Bytes(100, 'a')));
  KitWriter writer;
  ASSERT_EQ(writer.AddFileEntry(WideString(u"x"), TimeOf(0), scratch.Wide("source")),
            kSuccess);
  for (const Bytes& changed : {Bytes(99, 'a'), Bytes(101, 'a'), Bytes()}) {
    ASSERT_TRUE(WriteWholeFile(scratch.Child("source"), changed));
    NarrowString failure;
    EXPECT_EQ(writer.WriteKit(scratch.Wide("out.efd"), &failure), kErrorInvalidParameter);
    EXPECT_NE(failure.Find("changed its size"), NarrowString::npos) << failure.CStr();
    struct stat status;
    EXPECT_NE(stat(scratch.Child("out.efd").c_str(), &status), 0);
  }
}

TEST(KitWriterTest, KitInMissingDirectoryFailsWithNotFound) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  EXPECT_EQ(WorkedExampleWriter().WriteKit(scratch.Wide("no/such/dir/kit.efd")), kErrorNotFound);
}

TEST(KitWriterTest, ExistingLongerKitFileIsReplacedWhole) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_TRUE(WriteWholeFile(scratch.Child("kit.efd"), Bytes(100000, 0xAB)));
  ASSERT_EQ(WorkedExampleWriter().WriteKit(scratch.Wide("kit.efd")), kSuccess);
  const Bytes kit = ReadWholeFileBytes(scratch.Child("kit.efd"));
  EXPECT_LT(kit.size(), 200u + kTrailerBytes);
  EXPECT_EQ(RawInflate(kit), WorkedExampleContainer());
}

TEST(KitWriterTest, WriteContainerWritesThePlainContainer) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_EQ(WorkedExampleWriter().WriteContainer(scratch.Wide("plain")), kSuccess);
  EXPECT_EQ(ReadWholeFileBytes(scratch.Child("plain")), WorkedExampleContainer());
}
