#include "install/journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install_test_support.h"
#include "install/rollback.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

namespace {

std::vector<JournalRecord> EveryKind() {
  std::vector<JournalRecord> records(9);
  records[0].kind = JournalKind::kMadeTarget;
  records[0].levels = 3;
  records[0].seconds = -86400;
  records[0].nanoseconds = 999999999;
  records[1].kind = JournalKind::kDirectoryTime;
  records[1].seconds = int64_t{1} << 40;
  records[1].nanoseconds = 5;
  records[1].path = "dir/\xff\xfe bytes";
  records[2].kind = JournalKind::kMadeDirectory;
  records[2].path = "dir/new";
  records[3].kind = JournalKind::kNewFile;
  records[3].path = "dir/new.txt";
  records[4].kind = JournalKind::kTempFile;
  records[4].path = ".t5new0-1";
  records[5].kind = JournalKind::kBackedUp;
  records[5].path = "a.txt";
  records[6].kind = JournalKind::kRetracted;
  records[6].retracted = JournalKind::kTempFile;
  records[6].path = ".t5new0-1";
  records[7].kind = JournalKind::kMadeIdentity;
  records[7].retracted = JournalKind::kNewFile;
  records[7].identity = {uint64_t{1} << 40, uint64_t{7} << 33, 12345, -86400, 999999999};
  records[7].path = "dir/new.txt";
  RunOwner owner;
  owner.pid = 4000000000u;
  owner.start_ticks = uint64_t{1} << 50;
  owner.run_number = "0123456789abcdef";
  owner.boot_id = "5f0d9d1e-boot";
  owner.host = "host\xff";
  records[8] = RunOwnerRecord(owner);
  return records;
}

std::string Encoded(const std::vector<JournalRecord>& records) {
  NarrowString bytes(kJournalMagic);
  for (const JournalRecord& record : records) EncodeJournalRecord(record, &bytes);
  return std::string(bytes.Data(), bytes.Length());
}

bool Same(const JournalRecord& a, const JournalRecord& b) {
  return a.kind == b.kind && a.path == b.path && a.seconds == b.seconds &&
         a.nanoseconds == b.nanoseconds && a.levels == b.levels &&
         (a.kind != JournalKind::kRetracted || a.retracted == b.retracted) &&
         (a.kind != JournalKind::kMadeIdentity ||
          (a.retracted == b.retracted && a.identity.SameFile(b.identity)));
}

}  // namespace

TEST(JournalTest, EveryKindComesBackAndACutJournalGivesItsWholeRecords) {
  const std::vector<JournalRecord> records = EveryKind();
  const std::string bytes = Encoded(records);
  // Where each record ends.
  std::vector<std::size_t> ends;
  for (std::size_t n = 1; n <= records.size(); ++n) {
    ends.push_back(
        Encoded(std::vector<JournalRecord>(records.begin(), records.begin() + n)).size());
  }
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    std::vector<JournalRecord> read;
    ASSERT_TRUE(DecodeJournal(bytes.data(), length, &read));
    std::size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= length) ++whole;
    ASSERT_EQ(read.size(), whole) << "cut at " << length;
    for (std::size_t i = 0; i < whole; ++i) EXPECT_TRUE(Same(read[i], records[i])) << i;
  }
}

TEST(JournalTest, TheOwnerRecordComesBackWhole) {
  const JournalRecord record = EveryKind()[8];
  RunOwner owner;
  ASSERT_TRUE(ReadRunOwner(record, &owner));
  EXPECT_EQ(owner.pid, 4000000000u);
  EXPECT_EQ(owner.start_ticks, uint64_t{1} << 50);
  EXPECT_EQ(owner.run_number, NarrowString("0123456789abcdef"));
  EXPECT_EQ(owner.boot_id, NarrowString("5f0d9d1e-boot"));
  EXPECT_EQ(owner.host, NarrowString("host\xff"));
  JournalRecord cut = record;
  cut.path = NarrowString(record.path.Data(), 20);
  EXPECT_FALSE(ReadRunOwner(cut, &owner));
}

TEST(JournalTest, DamagedBytesEndTheRecordsThere) {
  const std::vector<JournalRecord> records = EveryKind();
  const std::size_t second = Encoded({records[0]}).size();
  std::vector<JournalRecord> read;
  std::string bytes = Encoded(records);
  bytes[second] = 'Q';  // an unknown kind
  ASSERT_TRUE(DecodeJournal(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(read.size(), 1u);

  bytes = Encoded(records);
  bytes[second + 4] = '\x7f';  // a length beyond any path
  ASSERT_TRUE(DecodeJournal(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(read.size(), 1u);

  bytes = Encoded(records);
  bytes[second + 1] = 2;  // a time record too short for its time
  ASSERT_TRUE(DecodeJournal(bytes.data(), bytes.size(), &read));
  EXPECT_EQ(read.size(), 1u);

  bytes = Encoded(records);
  bytes[3] = 'X';
  EXPECT_FALSE(DecodeJournal(bytes.data(), bytes.size(), &read));
  EXPECT_TRUE(read.empty());
  EXPECT_FALSE(DecodeJournal(bytes.data(), 4, &read));  // not even the start of a journal
}

// A journal is read back from a folder anyone who can write the template directory could
// have put there: its records act inside the template directory only.
TEST(JournalTest, RollbackIgnoresRecordsThatLeaveTheTemplateDirectoryOrAreRetracted) {
  ScratchDirectory scratch{ScratchDirectory::kOwnTemp};
  const std::string target = scratch.Child("tmplts");
  ASSERT_TRUE(MakeDirectories(target + "/.t5stp/backup"));
  ASSERT_TRUE(WriteFileAt(scratch.Child("outside"), "outside", 1));
  ASSERT_TRUE(WriteFileAt(target + "/kept", "someone else's", 1));
  ASSERT_TRUE(WriteFileAt(target + "/.t5stp/backup/precious", "backup", 1));
  const TreeState before = SnapshotTree(scratch.Child("."));
  std::vector<JournalRecord> records;
  for (const char* path : {"../outside", "/etc/passwd", ".t5stp/backup/precious", "./.t5stp",
                           "kept"}) {
    JournalRecord record;
    record.kind = JournalKind::kNewFile;
    record.path = path;
    records.push_back(record);
    record.kind = JournalKind::kMadeDirectory;
    records.push_back(record);
  }
  JournalRecord retract;
  retract.kind = JournalKind::kRetracted;
  for (JournalKind kind : {JournalKind::kNewFile, JournalKind::kMadeDirectory}) {
    retract.retracted = kind;
    retract.path = "kept";
    records.push_back(retract);
  }
  TempNames names;
  RootDescriptor root(target);
  RollbackContext context;
  context.root = root.get();
  context.names = &names;
  // Nothing the records name is the run's; the original that no record explains goes back
  // to its empty name, and then the rollback is complete and removes its work folder.
  EXPECT_TRUE(RollBackRecords(context, records));
  TreeState after = SnapshotTree(scratch.Child("."));
  TreeState expected = before;
  expected["tmplts/precious"] = before.at("tmplts/.t5stp/backup/precious");
  for (const char* gone :
       {"tmplts/.t5stp", "tmplts/.t5stp/backup", "tmplts/.t5stp/backup/precious"}) {
    expected.erase(gone);
  }
  expected.erase("tmplts");
  after.erase("tmplts");
  EXPECT_EQ(DescribeDifferences(expected, after), "");
}
