#include "kit/distribution_kit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
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

// Opens with a look that forecasts nothing to write: the data area is inflated, not stored.
class LookedAtKitTest : public ::testing::Test {
 protected:
  // Three entries of incompressible bytes, so that the stream goes on well past the table.
  static KitWriter Writer(unsigned seed = 1) {
    KitWriter writer;
    writer.AddDescription(KitInfo{WideString(u"en"), WideString(u"P"), WideString(u"V"),
                                  WideString(u"d")});
    for (unsigned i = 0; i < 3; ++i) {
      writer.AddEntry(WideString(i == 0 ? u"a" : i == 1 ? u"dir\\b" : u"c"), TimeOf(i),
                      PatternBytes(700000, seed + i));
    }
    return writer;
  }
  void WriteKit(const Bytes& bytes) { ASSERT_TRUE(WriteWholeFile(KitPath(), bytes)); }
  static Bytes KitBytesOf(const KitWriter& writer) {
    ScratchDirectory scratch;
    EXPECT_EQ(writer.WriteKit(scratch.Wide("kit.efd")), kSuccess);
    return ReadWholeFileBytes(scratch.Child("kit.efd"));
  }
  std::string KitPath() const { return scratch_.Child("kit.efd"); }
  ErrorCode OpenLooking(DistributionKit* kit) {
    return kit->Open(scratch_.Wide("kit.efd"), nullptr, [this](const std::vector<KitEntry>& e) {
      looked_entries_ = e.size();
      return false;
    });
  }
  int64_t ContainerSize(const DistributionKit& kit) const {
    struct stat status;
    if (fstat(KitTestAccess::ContainerHandle(kit), &status) != 0) return -1;
    return static_cast<int64_t>(status.st_size);
  }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  std::atomic<std::size_t> looked_entries_{0};
};

TEST_F(LookedAtKitTest, NothingToWriteStoresNoDataYetTheKitIsJudgedWhole) {
  const Bytes kit_bytes = KitBytesOf(Writer());
  WriteKit(kit_bytes);
  DistributionKit plain, looked;
  ASSERT_EQ(plain.Open(scratch_.Wide("kit.efd")), kSuccess);
  ASSERT_EQ(OpenLooking(&looked), kSuccess);
  EXPECT_EQ(looked_entries_.load(), 3u);
  EXPECT_TRUE(plain.DataStored());
  EXPECT_FALSE(looked.DataStored());
  EXPECT_EQ(ContainerSize(looked), 0);
  EXPECT_EQ(std::memcmp(plain.Seal().digest, looked.Seal().digest, kDigestBytes), 0);
  ASSERT_EQ(looked.EntryCount(), plain.EntryCount());
  for (std::size_t i = 0; i < plain.EntryCount(); ++i) {
    EXPECT_TRUE(looked.Entry(i).name == plain.Entry(i).name);
    EXPECT_EQ(looked.Entry(i).offset, plain.Entry(i).offset);
    EXPECT_EQ(looked.Entry(i).size, plain.Entry(i).size);
  }
  EXPECT_EQ(looked.ExtractEntry(0, scratch_.Wide("out")), kErrorInvalidHandle);

  // Damage past the table: in the data (DEFLATE or digest), in the trailer's digest, and a
  // container one byte short of its last entry's data.
  Bytes in_data = kit_bytes;
  in_data[in_data.size() - kTrailerBytes - 1000] ^= 0x10;
  Bytes in_trailer = kit_bytes;
  in_trailer[in_trailer.size() - kTrailerBytes + 20] ^= 0x01;
  Bytes container = ContainerBytesOf(Writer());
  container.pop_back();
  for (const Bytes& damaged : {in_data, in_trailer, RawDeflate(container)}) {
    WriteKit(damaged);
    looked_entries_ = 0;
    DistributionKit kit;
    EXPECT_EQ(OpenLooking(&kit), kErrorInvalidData);
    EXPECT_EQ(looked_entries_.load(), 3u);
    EXPECT_EQ(kit.EntryCount(), 0u);
    EXPECT_EQ(KitTestAccess::ContainerHandle(kit), kNoFileHandle);
    EXPECT_FALSE(kit.FailureReason().Empty());
  }
}

TEST_F(LookedAtKitTest, StoreDataGivesTheSameEntriesAsAKitStoredAtOnce) {
  const KitWriter writer = Writer();
  WriteKit(KitBytesOf(writer));
  DistributionKit kit;
  ASSERT_EQ(OpenLooking(&kit), kSuccess);
  ASSERT_EQ(kit.StoreData(), kSuccess);
  EXPECT_TRUE(kit.DataStored());
  EXPECT_EQ(ReadWholeFileBytes("/proc/self/fd/" +
                               std::to_string(KitTestAccess::ContainerHandle(kit))),
            ContainerBytesOf(writer));
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) {
    const std::string out = scratch_.Child("out" + std::to_string(i));
    ASSERT_EQ(kit.ExtractEntry(i, WideFromUtf8(out)), kSuccess);
    EXPECT_EQ(ReadWholeFileBytes(out), PatternBytes(700000, 1 + static_cast<unsigned>(i)));
  }
}

TEST_F(LookedAtKitTest, StoreDataFailsWhenTheKitFileIsNoLongerTheKitOpened) {
  // Another sound kit of the same shape; a kit cut inside its stream; no kit at all.
  const Bytes other = KitBytesOf(Writer(7));
  Bytes cut = KitBytesOf(Writer());
  cut.resize(cut.size() / 2);
  for (int change = 0; change < 3; ++change) {
    WriteKit(KitBytesOf(Writer()));
    DistributionKit kit;
    ASSERT_EQ(OpenLooking(&kit), kSuccess);
    if (change == 2) {
      ASSERT_EQ(unlink(KitPath().c_str()), 0);
    } else {
      WriteKit(change == 0 ? other : cut);
    }
    const ErrorCode code = kit.StoreData();
    EXPECT_EQ(code, change == 2 ? kErrorNotFound : kErrorInvalidData) << change;
    EXPECT_FALSE(kit.DataStored());
    EXPECT_FALSE(kit.FailureReason().Empty());
    EXPECT_EQ(kit.ExtractEntry(0, scratch_.Wide("out")), kErrorInvalidHandle);
  }
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
