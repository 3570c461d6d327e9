#include "ui/installed_directory_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/kit_builders.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "ui/ui_test_support.h"

namespace {

constexpr const char* kKey = "ConfigurationTemplatesLocation=";

std::vector<WideString> Wides(const std::vector<std::string>& texts) {
  std::vector<WideString> result;
  for (const std::string& text : texts) result.push_back(WideFromUtf8(text));
  return result;
}

std::vector<std::string> Asciis(const std::vector<WideString>& texts) {
  std::vector<std::string> result;
  for (const WideString& text : texts) result.push_back(AsciiOf(text));
  return result;
}

TEST(InstalledDirectoryRecordTest, TargetGoesFirstIntoTheUserFile) {
  WizardScratch scratch;
  std::vector<WideString> locations = Wides({"/old/one", "/old/two"});
  EXPECT_EQ(RecordInstalledDirectory(WideFromUtf8("/home/u/tpl/"), &locations, false, false),
            kSettingsWritten);
  EXPECT_EQ(Asciis(locations), (std::vector<std::string>{"/home/u/tpl", "/old/one", "/old/two"}));
  EXPECT_EQ(ReadWholeFile(scratch.UserSettingsPath()),
            std::string(kKey) + "/home/u/tpl\n" + kKey + "/old/one\n" + kKey + "/old/two\n");
  EXPECT_FALSE(Exists(scratch.AltSettingsPath()));
}

TEST(InstalledDirectoryRecordTest, OnlyOneTrailingSeparatorIsRemoved) {
  WizardScratch scratch;
  std::vector<WideString> locations;
  RecordInstalledDirectory(WideFromUtf8("C:\\tpl\\\\"), &locations, false, false);
  ASSERT_EQ(locations.size(), 1u);
  EXPECT_EQ(AsciiOf(locations[0]), "C:\\tpl\\");
  locations.clear();
  RecordInstalledDirectory(WideFromUtf8("/no/separator"), &locations, false, false);
  EXPECT_EQ(AsciiOf(locations[0]), "/no/separator");
}

TEST(InstalledDirectoryRecordTest, LocationsFromTheAlternativeFileGoBackOnlyThere) {
  WizardScratch scratch;
  std::vector<WideString> locations = Wides({"/alt/old"});
  EXPECT_EQ(RecordInstalledDirectory(WideFromUtf8("/new/"), &locations, true, true),
            kSettingsWritten);
  EXPECT_FALSE(Exists(scratch.UserSettingsPath()));
  EXPECT_EQ(ReadWholeFile(scratch.AltSettingsPath()),
            std::string(kKey) + "/new\n" + kKey + "/alt/old\n");
}

TEST(InstalledDirectoryRecordTest, BothFilesWhenTheAlternativeFileExists) {
  WizardScratch scratch;
  WizardScratch::WriteSettings(scratch.AltSettingsPath(), {"Other=1"});
  std::vector<WideString> locations;
  EXPECT_EQ(RecordInstalledDirectory(WideFromUtf8("/new/"), &locations, false, true),
            kSettingsWritten);
  EXPECT_EQ(ReadWholeFile(scratch.UserSettingsPath()), std::string(kKey) + "/new\n");
  EXPECT_EQ(ReadWholeFile(scratch.AltSettingsPath()), std::string("Other=1\n") + kKey + "/new\n");
}

TEST(InstalledDirectoryRecordTest, AFailedWriteIsReportedAndTheOtherFileStillWritten) {
  WizardScratch scratch;
  WizardScratch::WriteSettings(scratch.AltSettingsPath(), {"Other=1"});
  // A regular file where the user file's directory belongs: only the user file cannot be
  // made, and the alternative file must still be written after that failure.
  ASSERT_TRUE(WriteWholeFile(scratch.Home() + "/.Tavlo/tavlostart", PatternBytes(3, 1)));
  std::vector<WideString> locations;
  EXPECT_NE(RecordInstalledDirectory(WideFromUtf8("/new/"), &locations, false, true),
            kSettingsWritten);
  ASSERT_EQ(locations.size(), 1u);
  EXPECT_EQ(AsciiOf(locations[0]), "/new");
  EXPECT_EQ(ReadWholeFile(scratch.AltSettingsPath()), std::string("Other=1\n") + kKey + "/new\n");
}

}  // namespace
