// Damaged containers: cut short at every length, bytes flipped, lengths and counts set to
// extreme values. Reading never crashes, never reads outside the container, and either
// succeeds with a sound file table or fails with kErrorInvalidData through Open's failure
// path, leaving no container file behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "kit/container_format.h"
#include "kit/container_reader.h"
#include "kit/distribution_kit.h"
#include "kit/entry_name_check.h"
#include "kit/kit_test_access.h"
#include "kit/little_endian.h"
#include "testing/kit_builders.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

enum class FieldKind {
  kLayoutFlag,
  kRecordCount,
  kRecordLength,
  kStringCount,
  kTime,
  kDataOffset,
  kDataSize
};

struct Field {
  std::size_t position;
  FieldKind kind;
};

// The 32-bit fields of a sound layout B container, found by walking it.
static std::vector<Field> FieldsOf(const Bytes& container) {
  std::vector<Field> fields;
  std::size_t p = 0;
  auto u32 = [&](std::size_t at) { return LoadLittleEndian32(container.data() + at); };
  auto add = [&](FieldKind kind) {
    fields.push_back(Field{p, kind});
    p += 4;
  };
  auto string = [&]() {
    const uint32_t units = u32(p);
    add(FieldKind::kStringCount);
    p += 2 * units;
  };
  add(FieldKind::kLayoutFlag);
  const uint32_t descriptions = u32(p);
  add(FieldKind::kRecordCount);
  for (uint32_t i = 0; i < descriptions; ++i) {
    add(FieldKind::kRecordLength);
    for (int s = 0; s < 4; ++s) string();
  }
  const uint32_t entries = u32(p);
  add(FieldKind::kRecordCount);
  for (uint32_t i = 0; i < entries; ++i) {
    add(FieldKind::kRecordLength);
    string();
    add(FieldKind::kTime);
    add(FieldKind::kTime);
    add(FieldKind::kDataOffset);
    add(FieldKind::kDataSize);
  }
  return fields;
}

static Bytes WithField(Bytes container, std::size_t position, uint32_t value) {
  StoreLittleEndian32(value, container.data() + position);
  return container;
}

class DamagedContainerTest : public ::testing::Test {
 protected:
  // Reads the container directly; checks the outcome is success with a sound table or 13
  // with an empty table. Returns the code.
  ErrorCode ReadChecked(const Bytes& container, const std::string& what) {
    std::vector<KitInfo> descriptions;
    std::vector<KitEntry> entries;
    NarrowString failure;
    const ErrorCode code =
        ReadContainerBytes(scratch_, container, &descriptions, &entries, &failure);
    if (code == kSuccess) {
      ExpectSoundTable(entries, container.size(), what);
    } else {
      EXPECT_EQ(code, kErrorInvalidData) << what;
      EXPECT_TRUE(entries.empty()) << what;
      EXPECT_FALSE(failure.Empty()) << what;
    }
    return code;
  }

  // Opens the container as a kit; checks the same, plus Open's failure path.
  ErrorCode OpenChecked(const Bytes& container, const std::string& what) {
    EXPECT_TRUE(WriteWholeFile(scratch_.Child("kit.efd"), RawDeflate(container))) << what;
    DistributionKit kit;
    const ErrorCode code = kit.Open(scratch_.Wide("kit.efd"));
    if (code == kSuccess) {
      std::vector<KitEntry> entries;
      for (std::size_t i = 0; i < kit.EntryCount(); ++i) entries.push_back(kit.Entry(i));
      ExpectSoundTable(entries, container.size(), what);
      kit.DiscardContainer();
    } else {
      EXPECT_EQ(code, kErrorInvalidData) << what;
      EXPECT_EQ(kit.EntryCount(), 0u) << what;
      EXPECT_EQ(KitTestAccess::ContainerHandle(kit), kNoFileHandle) << what;
    }
    EXPECT_EQ(scratch_.TempEntryCount(), 0) << what;
    return code;
  }

  static void ExpectSoundTable(const std::vector<KitEntry>& entries, std::size_t size,
                               const std::string& what) {
    for (const KitEntry& entry : entries) {
      EXPECT_LE(static_cast<uint64_t>(entry.offset) + entry.size, size) << what;
      EXPECT_EQ(UnsafeEntryNameReason(entry.name), nullptr) << what;
    }
  }

  ScratchDirectory scratch_{ScratchDirectory::kOwnTemp};
};

TEST_F(DamagedContainerTest, SoundContainersRead) {
  EXPECT_EQ(ReadChecked(SmallContainer(), "small"), kSuccess);
  EXPECT_EQ(ReadChecked(WorkedExampleContainer(), "example"), kSuccess);
}

TEST_F(DamagedContainerTest, EveryTruncationIsInvalidData) {
  for (const Bytes& whole : {SmallContainer(), WorkedExampleContainer()}) {
    for (std::size_t length = 0; length < whole.size(); ++length) {
      const Bytes cut(whole.begin(), whole.begin() + length);
      EXPECT_EQ(ReadChecked(cut, "cut at " + std::to_string(length)), kErrorInvalidData);
    }
  }
}

TEST_F(DamagedContainerTest, EveryTruncationFailsOpenThroughTheFailurePath) {
  const Bytes whole = SmallContainer();
  for (std::size_t length = 0; length < whole.size(); ++length) {
    const Bytes cut(whole.begin(), whole.begin() + length);
    EXPECT_EQ(OpenChecked(cut, "cut at " + std::to_string(length)), kErrorInvalidData);
  }
}

TEST_F(DamagedContainerTest, FlippedBytesNeverCrashAndFailCleanly) {
  const Bytes whole = SmallContainer();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    for (unsigned char mask : {0xFF, 0x80, 0x01, 0x10}) {
      Bytes damaged = whole;
      damaged[i] ^= mask;
      ReadChecked(damaged, "byte " + std::to_string(i) + " ^ " + std::to_string(mask));
    }
  }
}

TEST_F(DamagedContainerTest, FlippedBytesThroughOpen) {
  const Bytes whole = SmallContainer();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    Bytes damaged = whole;
    damaged[i] ^= 0xFF;
    OpenChecked(damaged, "byte " + std::to_string(i));
  }
}

TEST_F(DamagedContainerTest, ExtremeLengthsAndCountsAreInvalidData) {
  const Bytes whole = SmallContainer();
  const std::vector<Field> fields = FieldsOf(whole);
  ASSERT_EQ(fields.size(), 2u + 2 * 5 + 1 + 2 * 6);
  for (const Field& field : fields) {
    for (uint32_t value : {0u, 3u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
      const std::string what =
          "field at " + std::to_string(field.position) + " = " + std::to_string(value);
      const Bytes damaged = WithField(whole, field.position, value);
      const ErrorCode code = ReadChecked(damaged, what);
      switch (field.kind) {
        case FieldKind::kRecordLength:
          // Below the record's own fields, or past the end of the container.
          EXPECT_EQ(code, kErrorInvalidData) << what;
          break;
        case FieldKind::kRecordCount:
        case FieldKind::kStringCount:
        case FieldKind::kDataSize:
        case FieldKind::kDataOffset:
          if (value >= 0x7FFFFFFF) {
            EXPECT_EQ(code, kErrorInvalidData) << what;
          }
          break;
        case FieldKind::kTime:
          EXPECT_EQ(code, kSuccess) << what;
          break;
        case FieldKind::kLayoutFlag:
          break;  // only selects the layout; either outcome is checked by ReadChecked
      }
    }
  }
}

TEST_F(DamagedContainerTest, ExtremeValuesThroughOpenLeaveNothingBehind) {
  const Bytes whole = SmallContainer();
  for (const Field& field : FieldsOf(whole)) {
    if (field.kind == FieldKind::kTime) continue;
    OpenChecked(WithField(whole, field.position, 0xFFFFFFFFu),
                "field at " + std::to_string(field.position));
  }
}

TEST_F(DamagedContainerTest, CountsThatOutgrowTheContainerAreRefusedBeforeReading) {
  // An entry count that would need 24 * 0x10000000 bytes; the container has a few dozen.
  Bytes container = WithField(WorkedExampleContainer(), 46, 0x10000000);
  std::vector<KitInfo> descriptions;
  std::vector<KitEntry> entries;
  NarrowString failure;
  EXPECT_EQ(ReadContainerBytes(scratch_, container, &descriptions, &entries, &failure),
            kErrorInvalidData);
  EXPECT_NE(failure.Find("promises more records"), NarrowString::npos) << failure.CStr();
}

TEST_F(DamagedContainerTest, StringRunningPastItsRecordNamesTheField) {
  // Vendor count 100 in a record of 38 bytes.
  Bytes container = WithField(WorkedExampleContainer(), 26, 100);
  std::vector<KitInfo> descriptions;
  std::vector<KitEntry> entries;
  NarrowString failure;
  EXPECT_EQ(ReadContainerBytes(scratch_, container, &descriptions, &entries, &failure),
            kErrorInvalidData);
  EXPECT_NE(failure.Find("description record 0: the vendor name runs past the end of its record"),
            NarrowString::npos)
      << failure.CStr();
}

TEST_F(DamagedContainerTest, PseudoRandomDamageNeverCrashes) {
  const Bytes whole = SmallContainer();
  uint32_t state = 12345;
  auto next = [&]() { return state = state * 1664525u + 1013904223u; };
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = whole;
    const int changes = 1 + next() % 4;
    for (int c = 0; c < changes; ++c) damaged[next() % damaged.size()] = next() >> 24;
    if (next() % 4 == 0) damaged.resize(next() % damaged.size());
    ReadChecked(damaged, "round " + std::to_string(round));
  }
}

// A file table of several hundred kilobytes is read in pieces; records and strings that
// straddle a piece's end must come back whole, and a cut just before or after such an end
// must still be found.
TEST_F(DamagedContainerTest, LargeTablesReadWholeAcrossReadAheadPieces) {
  // Names of 7 to 63 units, so record ends fall on every alignment.
  const auto name_of = [](int i) {
    return "dir" + std::to_string(i % 37) + "\\" + std::string(1 + i % 53, 'n') +
           std::to_string(i);
  };
  KitWriter writer;
  constexpr int kEntries = 4000;
  for (int i = 0; i < kEntries; ++i) {
    ASSERT_EQ(
        writer.AddEntry(WideFromUtf8(name_of(i)), TimeOf(1600000000 + i),
                        Bytes(static_cast<std::size_t>(i % 5), static_cast<unsigned char>(i))),
        kSuccess);
  }
  const Bytes whole = ContainerBytesOf(writer);
  ASSERT_GT(whole.size(), 4u * 65536u);

  std::vector<KitInfo> descriptions;
  std::vector<KitEntry> entries;
  ASSERT_EQ(ReadContainerBytes(scratch_, whole, &descriptions, &entries), kSuccess);
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kEntries));
  uint64_t data_end = 0;
  for (int i = 0; i < kEntries; ++i) {
    const KitEntry& entry = entries[static_cast<std::size_t>(i)];
    ASSERT_EQ(AsciiOf(entry.name), name_of(i)) << "entry " << i;
    ASSERT_EQ(FileTimeValue(entry.time), FileTimeValue(TimeOf(1600000000 + i)));
    ASSERT_EQ(entry.size, static_cast<uint32_t>(i % 5));
    for (uint32_t k = 0; k < entry.size; ++k) {
      ASSERT_EQ(whole[entry.offset + k], static_cast<unsigned char>(i)) << "entry " << i;
    }
    data_end = std::max<uint64_t>(data_end, uint64_t{entry.offset} + entry.size);
  }
  EXPECT_EQ(data_end, whole.size());

  // Cuts around the piece boundaries inside the table.
  for (std::size_t boundary = 65536; boundary < whole.size() - 16; boundary += 65536) {
    for (std::size_t length = boundary - 3; length <= boundary + 3; ++length) {
      const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      NarrowString failure;
      EXPECT_EQ(ReadContainerBytes(scratch_, cut, &descriptions, &entries, &failure),
                kErrorInvalidData)
          << "cut at " << length;
      EXPECT_TRUE(entries.empty());
    }
  }
}
