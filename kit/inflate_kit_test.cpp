#include "kit/inflate_kit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

class InflateKitTest : public ::testing::Test {
 protected:
  ErrorCode Inflate(const Bytes& kit, uint64_t limit = kMaxContainerBytes) {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), kit));
    return InflateKit(scratch_.Wide("kit.efd"), scratch_.Wide("container"), &failure_, limit);
  }
  Bytes Container() { return ReadWholeFileBytes(scratch_.Child("container")); }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
  NarrowString failure_;
};

TEST_F(InflateKitTest, InflatesASmallKit) {
  const Bytes container = WorkedExampleContainer();
  ASSERT_EQ(Inflate(RawDeflate(container)), kSuccess);
  EXPECT_EQ(Container(), container);
}

TEST_F(InflateKitTest, InflatesAKitOfManyPieces) {
  // Noise does not compress, so the kit spans many pieces; a stream boundary falls inside
  // pieces and output is produced across them.
  const Bytes container = PatternBytes(30 * 1024 * 1024 + 17, 3);
  const Bytes kit = RawDeflate(container);
  ASSERT_GT(kit.size(), 10u * kInflateInputBytes);
  ASSERT_EQ(Inflate(kit), kSuccess);
  EXPECT_EQ(Container(), container);
}

TEST_F(InflateKitTest, HighlyCompressedKitProducesManyBuffersPerPiece) {
  const Bytes container(5 * 1024 * 1024, 'z');
  ASSERT_EQ(Inflate(RawDeflate(container)), kSuccess);
  EXPECT_EQ(Container(), container);
}

TEST_F(InflateKitTest, InvalidDeflateDataIsInvalidData) {
  // Block type 3 is reserved: the first inflate call fails with a data error.
  EXPECT_EQ(Inflate(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x11}), kErrorInvalidData);
  EXPECT_NE(failure_.Find("not valid DEFLATE"), NarrowString::npos);
}

TEST_F(InflateKitTest, CorruptionInALaterPieceIsInvalidData) {
  // Sound blocks over several pieces, then a final block of the reserved type 3.
  Bytes kit = RawDeflateUnfinished(PatternBytes(3 * 1024 * 1024, 4));
  ASSERT_GT(kit.size(), 3u * kInflateInputBytes);
  kit.insert(kit.end(), {0x07, 0x00, 0x00, 0x00});
  EXPECT_EQ(Inflate(kit), kErrorInvalidData);
}

TEST_F(InflateKitTest, StreamCutShortInflatesWhatIsThere) {
  const Bytes container = PatternBytes(200000, 5);
  Bytes kit = RawDeflate(container);
  kit.resize(kit.size() / 2);
  ASSERT_EQ(Inflate(kit), kSuccess);
  const Bytes prefix = Container();
  ASSERT_LT(prefix.size(), container.size());
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), container.begin()));
}

TEST_F(InflateKitTest, BytesAfterTheStreamAreIgnored) {
  const Bytes container = WorkedExampleContainer();
  Bytes kit = RawDeflate(container);
  const Bytes trailer = PatternBytes(100000, 6);
  kit.insert(kit.end(), trailer.begin(), trailer.end());
  ASSERT_EQ(Inflate(kit), kSuccess);
  EXPECT_EQ(Container(), container);
}

// Once the stream has ended or failed, the rest of the kit file is not read. Behind each
// stream lies a hole of 256 GiB: reading it piece by piece, a million pieces, would take
// many seconds even on a fast machine, while stopping takes a few milliseconds.
TEST_F(InflateKitTest, ReadingStopsWhereTheStreamEndsOrFails) {
  const auto inflate_with_hole = [this](const Bytes& stream, ErrorCode* code, double* seconds) {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), stream));
    if (truncate64(scratch_.Child("kit.efd").c_str(), off64_t{256} << 30) != 0) return false;
    const auto start = std::chrono::steady_clock::now();
    *code = InflateKit(scratch_.Wide("kit.efd"), scratch_.Wide("container"), &failure_);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
  };
  ErrorCode code = kSuccess;
  double seconds = 0;
  if (!inflate_with_hole(RawDeflate(WorkedExampleContainer()), &code, &seconds)) {
    GTEST_SKIP() << "the file system holds no sparse file of 256 GiB";
  }
  EXPECT_EQ(code, kSuccess);
  EXPECT_EQ(Container(), WorkedExampleContainer());
  EXPECT_LT(seconds, 2.0) << "after the end of the stream";

  ASSERT_TRUE(inflate_with_hole(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x11}, &code, &seconds));
  EXPECT_EQ(code, kErrorInvalidData);
  EXPECT_LT(seconds, 2.0) << "after the failure of the stream";
}

TEST_F(InflateKitTest, EmptyKitInflatesToNothing) {
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("container"), Bytes(10, 'x')));
  ASSERT_EQ(Inflate(Bytes()), kSuccess);
  EXPECT_TRUE(Container().empty());
}

TEST_F(InflateKitTest, LongerContainerFileIsCutToTheInflatedLength) {
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("container"), Bytes(1000, 'x')));
  ASSERT_EQ(Inflate(RawDeflate(WorkedExampleContainer())), kSuccess);
  EXPECT_EQ(Container(), WorkedExampleContainer());
}

TEST_F(InflateKitTest, MissingKitIsNotFound) {
  EXPECT_EQ(InflateKit(scratch_.Wide("missing.efd"), scratch_.Wide("container")), kErrorNotFound);
}

TEST_F(InflateKitTest, ContainerInMissingDirectoryIsNotFound) {
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), RawDeflate(WorkedExampleContainer())));
  EXPECT_EQ(InflateKit(scratch_.Wide("kit.efd"), scratch_.Wide("no/container")), kErrorNotFound);
}

TEST_F(InflateKitTest, FailedWriteEndsTheInflation) {
  // /dev/full accepts the open and fails every write with ENOSPC.
  ASSERT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), RawDeflate(WorkedExampleContainer())));
  // A full disk keeps its own code: the checks report it as no space, not as a damaged kit.
  EXPECT_EQ(InflateKit(scratch_.Wide("kit.efd"), WideString(u"/dev/full"), &failure_),
            kErrorDiskFull);
  EXPECT_NE(failure_.Find("writing"), NarrowString::npos);
}

TEST_F(InflateKitTest, ContainerBeyondTheLimitIsInvalidData) {
  const Bytes container(100000, 'q');
  EXPECT_EQ(Inflate(RawDeflate(container), 99999), kErrorInvalidData);
  EXPECT_EQ(Inflate(RawDeflate(container), 100000), kSuccess);
}

TEST_F(InflateKitTest, KitThatCannotBeReadFails) {
  // A directory opens for reading; depending on the file system its end position is huge
  // and it cannot be read, or it cannot be measured. Either is a failure.
  EXPECT_EQ(InflateKit(WideString(u"/"), scratch_.Wide("container")), kErrorInvalidParameter);
}
