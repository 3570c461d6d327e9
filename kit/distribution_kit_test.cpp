#include "kit/distribution_kit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kit/container_format.h"
#include "kit/kit_test_access.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

class DistributionKitTest : public ::testing::Test {
 protected:
  // Writes the kit file and opens it.
  ErrorCode OpenKit(const Bytes& kit_bytes) {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), kit_bytes));
    return kit_.Open(scratch_.Wide("kit.efd"));
  }
  ErrorCode OpenContainer(const Bytes& container) { return OpenKit(RawDeflate(container)); }
  ErrorCode OpenWriter(const KitWriter& writer) { return OpenContainer(ContainerBytesOf(writer)); }

  // The state after a failed Open.
  void ExpectFailedState() {
    EXPECT_EQ(kit_.EntryCount(), 0u);
    EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
    EXPECT_EQ(scratch_.TempEntryCount(), 0);
  }

  static WideString W(const char16_t* text) { return WideString(text); }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  DistributionKit kit_;
};

TEST_F(DistributionKitTest, NewKitHasNothing) {
  EXPECT_EQ(kit_.EntryCount(), 0u);
  EXPECT_EQ(kit_.DescriptionCount(), 0u);
  EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"en")).Empty());
}

TEST_F(DistributionKitTest, OpenKeepsTheContainerOpenWithoutANameInTheTemporaryDirectory) {
  ASSERT_EQ(OpenContainer(WorkedExampleContainer()), kSuccess);
  ASSERT_NE(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
  // Nothing in the temporary directory a killed run could leave behind.
  EXPECT_EQ(scratch_.TempEntryCount(), 0);
  const std::string descriptor =
      "/proc/self/fd/" + std::to_string(KitTestAccess::ContainerHandle(kit_));
  char target[4096] = {};
  ASSERT_GT(readlink(descriptor.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target).rfind(scratch_.TempDirectory(), 0), 0u) << target;
  EXPECT_EQ(ReadWholeFileBytes(descriptor), WorkedExampleContainer());
  kit_.DiscardContainer();
  EXPECT_EQ(scratch_.TempEntryCount(), 0);
  EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
  EXPECT_EQ(kit_.EntryCount(), 0u);
}

TEST_F(DistributionKitTest, LayoutAIsOneEnglishDescription) {
  KitWriter writer(kLayoutSingleDescription);
  writer.AddDescription(KitInfo{W(u""), W(u"Prod"), W(u"Vend"), W(u"doc\\a.htm")});
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  ASSERT_EQ(kit_.DescriptionCount(), 1u);
  EXPECT_TRUE(kit_.Description(0).language == W(u"en"));
  WideString product(u"x"), vendor(u"y");
  kit_.GetProductInfo(W(u"ru"), &product, &vendor);
  EXPECT_TRUE(product.Empty());
  EXPECT_TRUE(vendor.Empty());
  kit_.GetProductInfo(W(u"en"), &product, &vendor);
  EXPECT_TRUE(product == W(u"Prod"));
  EXPECT_TRUE(vendor == W(u"Vend"));
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"ru")) == W(u"doc\\a.htm"));
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, LanguageCodesMatchWithoutRegardToCase) {
  KitWriter writer;
  writer.AddDescription(KitInfo{W(u"EN"), W(u"Big"), W(u"Co"), W(u"d")});
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  WideString product, vendor;
  kit_.GetProductInfo(W(u"en"), &product, &vendor);
  EXPECT_TRUE(product == W(u"Big"));
  EXPECT_TRUE(vendor == W(u"Co"));
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"En")) == W(u"d"));
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, FirstRecordOfALanguageCountsAndEmptyDescriptionFallsBackToEnglish) {
  KitWriter writer;
  writer.AddDescription(KitInfo{W(u"ru"), W(u"First"), W(u"V1"), W(u"")});
  writer.AddDescription(KitInfo{W(u"ru"), W(u"Second"), W(u"V2"), W(u"ru.htm")});
  writer.AddDescription(KitInfo{W(u"en"), W(u"E"), W(u"V"), W(u"en.htm")});
  writer.AddDescription(KitInfo{W(u"de"), W(u"D"), W(u"V"), W(u"de.htm")});
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  WideString product, vendor;
  kit_.GetProductInfo(W(u"ru"), &product, &vendor);
  EXPECT_TRUE(product == W(u"First"));
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"ru")) == W(u"en.htm"));
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"de")) == W(u"de.htm"));
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"fr")) == W(u"en.htm"));
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, NoEnglishRecordGivesAnEmptyDocument) {
  KitWriter writer;
  writer.AddDescription(KitInfo{W(u"ru"), W(u"P"), W(u"V"), W(u"")});
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"ru")).Empty());
  EXPECT_TRUE(kit_.GetDescriptionDocument(W(u"fr")).Empty());
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, SurplusBytesOfALongerRecordAreSkipped) {
  // The worked example with 6 surplus bytes in the description record, and one in the
  // entry record.
  Bytes container = WorkedExampleContainer();
  container[8] = 38 + 6;
  container.insert(container.begin() + 46, {1, 2, 3, 4, 5, 6});
  container[56] = 38 + 1;
  container.insert(container.begin() + 56 + 38, 0xEE);
  ASSERT_EQ(OpenContainer(container), kSuccess) << kit_.FailureReason().CStr();
  ASSERT_EQ(kit_.DescriptionCount(), 1u);
  EXPECT_TRUE(kit_.Description(0).description == W(u"d.htm"));
  ASSERT_EQ(kit_.EntryCount(), 1u);
  EXPECT_TRUE(kit_.Entry(0).name == W(u"a\\b.txt"));
  EXPECT_EQ(kit_.Entry(0).offset, 88u + 6 + 1);
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, NonZeroLayoutFlagIsLayoutB) {
  Bytes container = WorkedExampleContainer();
  container[0] = 0x7F;
  container[3] = 0x80;
  ASSERT_EQ(OpenContainer(container), kSuccess);
  EXPECT_EQ(kit_.DescriptionCount(), 1u);
  EXPECT_EQ(kit_.EntryCount(), 1u);
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, EmptyFileTableOpensWithDataRightAfterTheCount) {
  KitWriter writer;
  writer.AddDescription(KitInfo{W(u"en"), W(u"P"), W(u"V"), W(u"d")});
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  EXPECT_EQ(kit_.EntryCount(), 0u);
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, OffsetsBecomeContainerPositions) {
  KitWriter writer(kLayoutSingleDescription);
  writer.AddEntry(W(u"a"), TimeOf(1), Bytes(10, 'a'));
  writer.AddEntry(W(u"bb"), TimeOf(2), Bytes(0));
  writer.AddEntry(W(u"c"), TimeOf(3), Bytes(5, 'c'));
  ASSERT_EQ(OpenWriter(writer), kSuccess);
  // flag 4 + three empty strings 12 + count 4 + records 26 + 28 + 26.
  const uint32_t data_start = 4 + 12 + 4 + 26 + 28 + 26;
  ASSERT_EQ(kit_.EntryCount(), 3u);
  EXPECT_EQ(kit_.Entry(0).offset, data_start);
  EXPECT_EQ(kit_.Entry(1).offset, data_start + 10);
  EXPECT_EQ(kit_.Entry(2).offset, data_start + 10);
  EXPECT_EQ(kit_.Entry(2).size, 5u);
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, InvalidDeflateIsInvalidDataAndLeavesNothing) {
  EXPECT_EQ(OpenKit(Bytes{0xFF, 0xFF, 0xFF, 0x00, 0x12, 0x34}), kErrorInvalidData);
  ExpectFailedState();
  EXPECT_FALSE(kit_.FailureReason().Empty());
}

TEST_F(DistributionKitTest, KitCutInsideItsStreamFailsWhenTheContainerIsRead) {
  Bytes kit = RawDeflate(SmallContainer());
  kit.resize(kit.size() - 8);
  EXPECT_EQ(OpenKit(kit), kErrorInvalidData);
  ExpectFailedState();
}

TEST_F(DistributionKitTest, BytesAfterTheStreamDoNotDisturbOpen) {
  Bytes kit = RawDeflate(WorkedExampleContainer());
  kit.insert(kit.end(), 5000, 0xFF);
  ASSERT_EQ(OpenKit(kit), kSuccess);
  EXPECT_EQ(kit_.EntryCount(), 1u);
  kit_.DiscardContainer();
}

TEST_F(DistributionKitTest, MissingKitIsNotFoundAndLeavesNothing) {
  EXPECT_EQ(kit_.Open(scratch_.Wide("missing.efd")), kErrorNotFound);
  ExpectFailedState();
}

TEST_F(DistributionKitTest, EmptyKitIsInvalidData) {
  EXPECT_EQ(OpenKit(Bytes()), kErrorInvalidData);
  ExpectFailedState();
}

TEST_F(DistributionKitTest, DescriptionsReadBeforeAFailureStay) {
  Bytes container = WorkedExampleContainer();
  container[50] = 3;  // entry record length below its fields
  EXPECT_EQ(OpenContainer(container), kErrorInvalidData);
  ExpectFailedState();
  EXPECT_EQ(kit_.DescriptionCount(), 1u);
  EXPECT_NE(kit_.FailureReason().Find("entry record 0"), NarrowString::npos);
}

TEST_F(DistributionKitTest, UnsafeNameMakesTheKitDamaged) {
  for (const char16_t* name : {u"..\\x", u"\\abs", u"dir\\", u"a\\..\\..\\b", u""}) {
    KitWriter writer;
    writer.AddEntry(W(u"fine"), TimeOf(0), Bytes(1, 'f'));
    writer.AddEntry(W(name), TimeOf(0), Bytes(1, 'x'));
    DistributionKit kit;
    ASSERT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), RawDeflate(ContainerBytesOf(writer))));
    EXPECT_EQ(kit.Open(scratch_.Wide("kit.efd")), kErrorInvalidData);
    EXPECT_EQ(kit.EntryCount(), 0u);
    EXPECT_NE(kit.FailureReason().Find("entry record 1"), NarrowString::npos)
        << kit.FailureReason().CStr();
    EXPECT_EQ(scratch_.TempEntryCount(), 0);
  }
}

TEST_F(DistributionKitTest, EntryDataPastTheContainerEndMakesTheKitDamaged) {
  Bytes container = WorkedExampleContainer();
  container[84] = 4;  // size 4, but only 3 data bytes
  EXPECT_EQ(OpenContainer(container), kErrorInvalidData);
  ExpectFailedState();
  EXPECT_NE(kit_.FailureReason().Find("runs past the end of the container"), NarrowString::npos);
}

TEST_F(DistributionKitTest, SecondOpenIsRefused) {
  ASSERT_EQ(OpenContainer(WorkedExampleContainer()), kSuccess);
  const FileHandle handle = KitTestAccess::ContainerHandle(kit_);
  EXPECT_EQ(kit_.Open(scratch_.Wide("kit.efd")), kErrorInvalidParameter);
  EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), handle);
  EXPECT_EQ(kit_.EntryCount(), 1u);
  kit_.DiscardContainer();
}

TEST(GetTempDirectoryTest, TakesTmpdirWhenItIsADirectory) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  const std::string expected = scratch.TempDirectory();
  EXPECT_EQ(AsciiOf(GetTempDirectory()), expected);
  setenv("TMPDIR", (scratch.Child("tmp") + "/").c_str(), 1);
  EXPECT_EQ(AsciiOf(GetTempDirectory()), expected);  // no second "/"
}

TEST(GetTempDirectoryTest, FallsBackToTmp) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), Bytes(1, 'x')));
  for (const std::string& value :
       {scratch.Child("missing"), scratch.Child("file"), std::string()}) {
    setenv("TMPDIR", value.c_str(), 1);
    EXPECT_EQ(AsciiOf(GetTempDirectory()), "/tmp/") << value;
  }
  unsetenv("TMPDIR");
  EXPECT_EQ(AsciiOf(GetTempDirectory()), "/tmp/");
}
