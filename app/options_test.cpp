#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

AutomationOptions Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "setup");
  return ParseAutomationOptions(static_cast<int>(arguments.size()), arguments.data());
}

std::string Error(std::vector<const char*> arguments) {
  return Parse(std::move(arguments)).error.CStr();
}

TEST(AutomationOptionsTest, EveryOptionIsReadWhereverItStands) {
  const AutomationOptions options =
      Parse({"usecwd", "-Lde", "--exit-status", "--no-dialogs", "--dry-run",
             "--target=~/t mpl", "--log=/tmp/run.jsonl", "--display=:1", "-S"});
  EXPECT_TRUE(options.exit_status);
  EXPECT_TRUE(options.no_dialogs);
  EXPECT_TRUE(options.dry_run);
  EXPECT_TRUE(options.has_target);
  EXPECT_STREQ(options.target.CStr(), "~/t mpl");
  EXPECT_TRUE(options.has_log);
  EXPECT_STREQ(options.log_path.CStr(), "/tmp/run.jsonl");
  EXPECT_FALSE(options.help);
  EXPECT_FALSE(options.version);
  EXPECT_TRUE(options.error.Empty());
}

TEST(AutomationOptionsTest, NothingIsSetWithoutTheOptions) {
  const AutomationOptions options = Parse({"-S", "-Lde", "--display=:1", "--sync", "-", "--"});
  EXPECT_FALSE(options.exit_status || options.no_dialogs || options.dry_run ||
               options.has_target || options.has_log || options.help || options.version);
  EXPECT_TRUE(options.error.Empty());
  EXPECT_FALSE(ParseAutomationOptions(0, nullptr).exit_status);
}

TEST(AutomationOptionsTest, ValuesMustBeGivenWithAnEqualsSignAndFlagsTakeNone) {
  EXPECT_NE(Error({"--target"}).find("--target"), std::string::npos);
  EXPECT_NE(Error({"--target="}), "");
  EXPECT_NE(Error({"--log"}), "");
  EXPECT_NE(Error({"--log="}), "");
  EXPECT_NE(Error({"--exit-status=yes"}), "");
  EXPECT_NE(Error({"--dry-run=1"}), "");
  // The first fault is the one named.
  EXPECT_EQ(Error({"--log", "--target"}).rfind("--log", 0), 0u);
  // A name that only begins like an option is GTK's.
  EXPECT_EQ(Error({"--targets=x", "--logfile", "--help-all"}), "");
  EXPECT_FALSE(Parse({"--targets=x"}).has_target);
  // The separate word after --target is never its value.
  const AutomationOptions separate = Parse({"--target", "/x"});
  EXPECT_FALSE(separate.has_target);
  EXPECT_NE(std::string(separate.error.CStr()), "");
}

TEST(AutomationOptionsTest, LongOptionsLeaveTheLetterScanAlone) {
  // "-Lde -S" stays not silent, and "--S" or "--Lde" select nothing there.
  const char* argv[] = {"setup", "-Lde", "-S", "--exit-status", "--Lfr", "--S"};
  const StartupOptions scanned = ParseCommandLine(6, argv);
  EXPECT_FALSE(scanned.silent);
  EXPECT_EQ(scanned.language_number, 8);
  EXPECT_TRUE(ParseAutomationOptions(6, argv).exit_status);
  const char* dashed[] = {"setup", "--S", "--Lde"};
  EXPECT_FALSE(ParseCommandLine(3, dashed).silent);
  EXPECT_EQ(ParseCommandLine(3, dashed).language_number, 0);
}

TEST(AutomationOptionsTest, HelpAndVersion) {
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"-S", "--version"}).version);
  EXPECT_EQ(std::string(ProgramVersion()).rfind("setup ", 0), 0u);
  const std::string usage = UsageText();
  for (const char* option : {"--target=DIR", "--exit-status", "--no-dialogs", "--dry-run",
                             "--log=FILE", "--help", "--version", "usecwd", "-S", "-Lcode",
                             " 64 "}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
