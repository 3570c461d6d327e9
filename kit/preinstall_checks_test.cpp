#include "kit/preinstall_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/kit_test_access.h"
#include "testing/environment_override.h"
#include "testing/kit_builders.h"
#include "testing/scratch_home.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

namespace {

std::string KitPathInWork(const ScratchHome& scratch) { return scratch.Work() + "/tavlo5.efd"; }

class PreinstallChecksTest : public ::testing::Test {
 protected:
  // Runs the steps with the kit looked for in the current directory.
  PreinstallResult Check() {
    return RunPreinstallSteps(true, &locations_, &findings_, &kit_);
  }

  ScratchHome scratch_;
  std::vector<WideString> locations_;
  PreinstallFindings findings_;
  DistributionKit kit_;
};

TEST(KitPathTest, BesideTheProgram) {
  EXPECT_EQ(AsciiOf(KitPathBesideProgram(NarrowString("/opt/kit/setup"))), "/opt/kit/tavlo5.efd");
  EXPECT_EQ(AsciiOf(KitPathBesideProgram(NarrowString("/setup"))), "/tavlo5.efd");
  EXPECT_TRUE(KitPathBesideProgram(NarrowString("setup")).Empty());
  EXPECT_TRUE(KitPathBesideProgram(NarrowString()).Empty());
}

TEST(KitPathTest, LongProgramPathIsKeptWhole) {
  const std::string directory = "/" + std::string(300, 'd') + "/" + std::string(200, 'e');
  EXPECT_EQ(AsciiOf(KitPathBesideProgram(NarrowString((directory + "/setup").c_str()))),
            directory + "/tavlo5.efd");
}

TEST(KitPathTest, NextToTheRunningProgram) {
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(AsciiOf(FindKitFile(false)), program.parent_path().string() + "/tavlo5.efd");
}

TEST_F(PreinstallChecksTest, UseCurrentDirectoryLooksInTheWorkingDirectory) {
  EXPECT_EQ(AsciiOf(FindKitFile(true)), scratch_.Work() + "/tavlo5.efd");
  // Without the keyword the current directory is not looked at.
  EXPECT_NE(AsciiOf(FindKitFile(false)), scratch_.Work() + "/tavlo5.efd");
}

TEST_F(PreinstallChecksTest, FileSizeOfRealFiles) {
  const std::string path = scratch_.Child("sized");
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(1234, 1)));
  uint64_t size = 0;
  EXPECT_EQ(FileSize(WideFromUtf8(path), &size), kSuccess);
  EXPECT_EQ(size, 1234u);

  ASSERT_EQ(symlink(path.c_str(), scratch_.Child("link").c_str()), 0);
  size = 0;
  EXPECT_EQ(FileSize(WideFromUtf8(scratch_.Child("link")), &size), kSuccess);
  EXPECT_EQ(size, 1234u);

  EXPECT_EQ(FileSize(WideFromUtf8(scratch_.Child("missing")), &size), kErrorSizeUnreadable);
  EXPECT_EQ(FileSize(WideFromUtf8(path), nullptr), kErrorSizeUnreadable);
}

TEST_F(PreinstallChecksTest, TempFreeSpace) {
  EXPECT_EQ(TempFreeSpace(nullptr), kErrorInvalidParameter);
  uint64_t free_bytes = 0;
  EXPECT_EQ(TempFreeSpace(&free_bytes), kSuccess);
  EXPECT_GT(free_bytes, 0u);
  // A file system without free blocks reports none.
  EnvironmentOverride tmpdir("TMPDIR", "/proc");
  free_bytes = 1;
  EXPECT_EQ(TempFreeSpace(&free_bytes), kSuccess);
  EXPECT_EQ(free_bytes, 0u);
}

TEST(SpaceCheckTest, ThreeTimesTheKitMustFit) {
  EXPECT_TRUE(KitFitsInFreeSpace(1000, 3000));
  EXPECT_FALSE(KitFitsInFreeSpace(1000, 2999));
  EXPECT_TRUE(KitFitsInFreeSpace(0, 0));
  EXPECT_FALSE(KitFitsInFreeSpace(1, 2));
  EXPECT_TRUE(KitFitsInFreeSpace(1, 3));
}

TEST(SpaceCheckTest, LargeSizesDoNotWrapAround) {
  // 3 x 1,431,655,766 does not fit into 32 bits; the comparison still sees the real need.
  EXPECT_FALSE(KitFitsInFreeSpace(1431655766u, 4294967295u));
  EXPECT_TRUE(KitFitsInFreeSpace(1431655766u, 3u * 1431655766ull));
  EXPECT_TRUE(KitFitsInFreeSpace(UINT64_MAX / 3, UINT64_MAX));
  EXPECT_FALSE(KitFitsInFreeSpace(UINT64_MAX / 3 + 1, UINT64_MAX));
}

TEST(CleanTargetDirectoryTest, Rules) {
  auto clean = [](const std::string& text) {
    return AsciiOf(CleanTargetDirectory(WideFromUtf8(text)));
  };
  EXPECT_EQ(clean("file:///home/u/tmpl/"), "/home/u/tmpl/");
  EXPECT_EQ(clean("C:\\tmpl\\"), "C:/tmpl/");
  EXPECT_EQ(clean("/a/http://b"), "");
  EXPECT_EQ(clean("https://host/x"), "");
  EXPECT_EQ(clean("x ftp://y"), "");
  // Only the first "file://" is removed.
  EXPECT_EQ(clean("file://a/file://b"), "a/file://b");
  EXPECT_EQ(clean("/ho\r\nme/\nu\r/"), "/home/u/");
  // Matching is case-sensitive.
  EXPECT_EQ(clean("HTTP://x/"), "HTTP://x/");
  EXPECT_EQ(clean("/plain/path/"), "/plain/path/");
  EXPECT_EQ(clean(""), "");
}

TEST(PreinstallMessageTest, Identifiers) {
  EXPECT_STREQ(PreinstallMessageId(PreinstallResult::kKitNotFound).CStr(), "IDS_ERROR_NOSOURCE");
  EXPECT_STREQ(PreinstallMessageId(PreinstallResult::kNoSpace).CStr(), "IDS_ERROR_NOSPACE");
  EXPECT_STREQ(PreinstallMessageId(PreinstallResult::kKitDamaged).CStr(),
               "IDS_ERROR_DAMAGEDSOURCE");
  EXPECT_STREQ(PreinstallMessageId(PreinstallResult::kNoTarget).CStr(), "IDS_ERROR_NOTARGET");
  EXPECT_TRUE(PreinstallMessageId(PreinstallResult::kReady).Empty());
}

TEST_F(PreinstallChecksTest, MissingKitStopsBeforeEverythingElse) {
  ScratchHome::WriteSettings(scratch_.AltSettingsPath(),
                               {"ConfigurationTemplatesLocation=/somewhere"});
  EXPECT_EQ(Check(), PreinstallResult::kKitNotFound);
  EXPECT_TRUE(findings_.kit_path.Empty());
  EXPECT_FALSE(findings_.alternative_file_exists);
  EXPECT_TRUE(locations_.empty());
  EXPECT_TRUE(findings_.target_directory.Empty());
}

TEST_F(PreinstallChecksTest, ReadyKitWithoutSettingsGetsTheDefaultDirectory) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.kit_path), KitPathInWork(scratch_));
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.DefaultTarget());
  EXPECT_FALSE(findings_.alternative_file_exists);
  EXPECT_FALSE(findings_.locations_from_alternative_file);
  EXPECT_EQ(kit_.EntryCount(), 3u);
  EXPECT_NE(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
}

TEST_F(PreinstallChecksTest, FirstWritableLocationOfTheUserFile) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  const std::string chosen = scratch_.Child("chosen");
  // /proc takes no new files, even from the superuser: that location cannot be probed.
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                               {"ConfigurationTemplatesLocation=/proc",
                                "ConfigurationTemplatesLocation=" + chosen,
                                "ConfigurationTemplatesLocation=" + scratch_.Child("later")});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.target_directory), chosen);
  ASSERT_EQ(locations_.size(), 3u);
  EXPECT_EQ(AsciiOf(locations_[0]), "/proc");
}

// A relative location would be taken from the current directory; the next one is used.
TEST_F(PreinstallChecksTest, RelativeLocationIsSkippedAndTildeIsTheHome) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                               {"ConfigurationTemplatesLocation=relative/tpl",
                                "ConfigurationTemplatesLocation=~/mytpl"});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.Home() + "/mytpl");
}

// An empty or relative home would put the settings and the templates below the current
// directory.
TEST_F(PreinstallChecksTest, RelativeHomeGivesNoTargetBeforeTheKitIsOpened) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  for (const char* value : {"home", ""}) {
    EnvironmentOverride home("HOME", value);
    EXPECT_EQ(Check(), PreinstallResult::kNoTarget) << "HOME=" << value;
    EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
    EXPECT_TRUE(findings_.target_directory.Empty());
  }
}

TEST_F(PreinstallChecksTest, UnprobeableOnlyLocationGivesTheDefault) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                               {"ConfigurationTemplatesLocation=/proc"});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.DefaultTarget());
}

TEST_F(PreinstallChecksTest, UserFileHidesTheAlternativeFile) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(), {"OtherKey=1"});
  ScratchHome::WriteSettings(scratch_.AltSettingsPath(),
                               {"ConfigurationTemplatesLocation=" + scratch_.Child("alt")});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_TRUE(findings_.alternative_file_exists);
  EXPECT_FALSE(findings_.locations_from_alternative_file);
  EXPECT_TRUE(locations_.empty());
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.DefaultTarget());
}

TEST_F(PreinstallChecksTest, LocationsFromTheAlternativeFile) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.AltSettingsPath(),
                               {"ConfigurationTemplatesLocation=" + scratch_.Child("alt")});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_TRUE(findings_.alternative_file_exists);
  EXPECT_TRUE(findings_.locations_from_alternative_file);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.Child("alt"));
}

TEST_F(PreinstallChecksTest, EmptyAlternativeFileSetsOnlyTheExistenceFlag) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.AltSettingsPath(), {"OtherKey=1"});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_TRUE(findings_.alternative_file_exists);
  EXPECT_FALSE(findings_.locations_from_alternative_file);
}

TEST_F(PreinstallChecksTest, WebLocationIsEmptiedAndNotReplacedByTheDefault) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                               {"ConfigurationTemplatesLocation=http://example/templates"});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_TRUE(findings_.target_directory.Empty());
}

TEST_F(PreinstallChecksTest, FileSchemeIsRemovedFromTheChosenLocation) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                               {"ConfigurationTemplatesLocation=file://" + scratch_.Child("t")});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.Child("t"));
}

TEST_F(PreinstallChecksTest, DamagedKit) {
  ASSERT_TRUE(WriteWholeFile(KitPathInWork(scratch_), PatternBytes(500, 7)));
  EXPECT_EQ(Check(), PreinstallResult::kKitDamaged);
  EXPECT_EQ(AsciiOf(findings_.kit_path), KitPathInWork(scratch_));
  EXPECT_EQ(kit_.EntryCount(), 0u);
}

TEST_F(PreinstallChecksTest, SpaceIsCheckedBeforeTheKitIsOpened) {
  // A damaged kit and a temporary directory without free blocks: the space message wins,
  // so the kit was never opened.
  ASSERT_TRUE(WriteWholeFile(KitPathInWork(scratch_), PatternBytes(500, 7)));
  EnvironmentOverride tmpdir("TMPDIR", "/proc");
  EXPECT_EQ(Check(), PreinstallResult::kNoSpace);
  EXPECT_EQ(KitTestAccess::ContainerHandle(kit_), kNoFileHandle);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.DefaultTarget());
}

TEST_F(PreinstallChecksTest, KitThatIsADirectoryIsFoundButDamaged) {
  ASSERT_EQ(mkdir(KitPathInWork(scratch_).c_str(), 0700), 0);
  EXPECT_EQ(Check(), PreinstallResult::kKitDamaged);
}

}  // namespace

// A location passed over for the next one may hold what an interrupted installation kept:
// the checks name it, so that the user hears where it is.
TEST_F(PreinstallChecksTest, APassedOverLocationWithAWorkFolderIsNamed) {
  WriteKitFile(DemoKitWriter(), KitPathInWork(scratch_));
  const std::string stranded = scratch_.Child("stranded");
  const std::string plain = scratch_.Child("plain");
  ASSERT_TRUE(MakeDirectories(stranded + "/.t5stp/backup"));
  ASSERT_TRUE(MakeDirectories(plain));
  // No new file goes into an immutable folder, not even the superuser's.
  ImmutableGuard stranded_guard(stranded), plain_guard(plain);
  if (!SetImmutable(stranded, true) || !SetImmutable(plain, true)) {
    GTEST_SKIP() << "no immutable attribute here";
  }
  ScratchHome::WriteSettings(scratch_.UserSettingsPath(),
                             {"ConfigurationTemplatesLocation=" + plain,
                              "ConfigurationTemplatesLocation=" + stranded});
  EXPECT_EQ(Check(), PreinstallResult::kReady);
  EXPECT_EQ(AsciiOf(findings_.target_directory), scratch_.DefaultTarget());
  ASSERT_EQ(findings_.stranded_work_folders.size(), 1u);
  EXPECT_EQ(AsciiOf(findings_.stranded_work_folders[0]), stranded);
}
