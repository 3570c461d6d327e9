#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/locale_override.h"
#include "testing/text_helpers.h"

namespace {

StartupOptions Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "setup");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

StartupOptions Choose(std::vector<const char*> arguments, const char* locale_name) {
  return ChooseLanguage(Parse(std::move(arguments)), locale_name);
}

class CommandLineTest : public ::testing::Test {
 protected:
  LocaleOverride locale_{"C.UTF-8"};
};

TEST_F(CommandLineTest, NoArgumentsGiveDefaults) {
  const StartupOptions options = Parse({});
  EXPECT_FALSE(options.use_current_directory);
  EXPECT_FALSE(options.silent);
  EXPECT_EQ(options.language_number, 0);
  EXPECT_EQ(U16(options.language_code), u"en");
}

TEST_F(CommandLineTest, MissingOrEmptyVectorGivesDefaults) {
  EXPECT_EQ(ParseCommandLine(0, nullptr).language_number, 0);
  const char* only_program[] = {"setup", nullptr};
  EXPECT_FALSE(ParseCommandLine(1, only_program).silent);
  const char* cut_short[] = {"setup", "-S", nullptr, "-Lde"};
  const StartupOptions options = ParseCommandLine(4, cut_short);
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 0);
  const char* empty[] = {nullptr};
  EXPECT_FALSE(ParseCommandLine(0, empty).use_current_directory);
}

TEST_F(CommandLineTest, SilentOptionInBothFormsAndCases) {
  EXPECT_TRUE(Parse({"-S"}).silent);
  EXPECT_TRUE(Parse({"/s"}).silent);
  EXPECT_TRUE(Parse({"-s"}).silent);
  EXPECT_TRUE(Parse({"/S"}).silent);
  EXPECT_TRUE(Parse({"-Silent"}).silent);  // only the second character counts
  EXPECT_FALSE(Parse({"S"}).silent);
  EXPECT_FALSE(Parse({"+S"}).silent);
  EXPECT_FALSE(Parse({"--S"}).silent);
}

TEST_F(CommandLineTest, LanguageOptionStopsTheScan) {
  const StartupOptions options = Parse({"-Lde", "-S"});
  EXPECT_EQ(options.language_number, 8);
  EXPECT_EQ(U16(options.language_code), u"de");
  EXPECT_FALSE(options.silent);
}

TEST_F(CommandLineTest, SilentThenLanguage) {
  const StartupOptions options = Parse({"-S", "-Lde"});
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 8);
  EXPECT_EQ(U16(options.language_code), u"de");
}

TEST_F(CommandLineTest, UnknownLanguageAlsoStopsTheScan) {
  const StartupOptions options = Parse({"-Lxx", "-S", "-Lde"});
  EXPECT_EQ(options.language_number, 0);
  EXPECT_EQ(U16(options.language_code), u"en");
  EXPECT_FALSE(options.silent);
}

TEST_F(CommandLineTest, LanguageCodeIsTakenWholeAndCaseSensitive) {
  EXPECT_EQ(Parse({"/Lru"}).language_number, 17);
  EXPECT_EQ(Parse({"-lru"}).language_number, 17);  // the option letter is case-blind
  EXPECT_EQ(Parse({"-LRU"}).language_number, 0);   // the code is not
  EXPECT_EQ(Parse({"-Lru_RU"}).language_number, 0);
  EXPECT_EQ(Parse({"-Lr"}).language_number, 0);
  EXPECT_EQ(Parse({"-Les"}).language_number, 9);
  EXPECT_EQ(Parse({"-Lar"}).language_number, 22);
  EXPECT_EQ(U16(Parse({"-Lar"}).language_code), u"ar");
}

TEST_F(CommandLineTest, UnknownCodeLeavesTheChoiceToTheLocale) {
  const StartupOptions options = Choose({"-Lxx"}, "ru_RU.UTF-8");
  EXPECT_EQ(options.language_number, 17);
  EXPECT_EQ(U16(options.language_code), u"ru");
}

TEST_F(CommandLineTest, KnownCodeOverridesTheLocale) {
  const StartupOptions options = Choose({"-Lde"}, "ru_RU.UTF-8");
  EXPECT_EQ(options.language_number, 8);
  EXPECT_EQ(U16(options.language_code), u"de");
}

TEST_F(CommandLineTest, SeparateCodeAfterBareLanguageOptionIsNeverRead) {
  const StartupOptions parsed = Parse({"-L", "ru", "-S"});
  EXPECT_EQ(parsed.language_number, 0);
  EXPECT_FALSE(parsed.silent);
  const StartupOptions chosen = ChooseLanguage(parsed, "C");
  EXPECT_EQ(chosen.language_number, 5);
  EXPECT_EQ(U16(chosen.language_code), u"en");
}

TEST_F(CommandLineTest, DisplayOptionIsLeftAlone) {
  const StartupOptions options = Parse({"--display=:1", "-S"});
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 0);
  EXPECT_FALSE(options.use_current_directory);
}

TEST_F(CommandLineTest, LoneOptionCharactersAreIgnored) {
  const StartupOptions options = Parse({"-", "/", "", "-S"});
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 0);
}

TEST_F(CommandLineTest, UseCwdOnlyInFirstPosition) {
  EXPECT_TRUE(Parse({"usecwd"}).use_current_directory);
  EXPECT_FALSE(Parse({"-S", "usecwd"}).use_current_directory);
  EXPECT_FALSE(Parse({"USECWD"}).use_current_directory);
  EXPECT_FALSE(Parse({"usecwd2"}).use_current_directory);
  EXPECT_FALSE(Parse({"-usecwd"}).use_current_directory);
  const StartupOptions options = Parse({"usecwd", "-s", "-Lhu"});
  EXPECT_TRUE(options.use_current_directory);
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 10);
}

TEST_F(CommandLineTest, UseCwdTwiceIsOnceAKeywordThenIgnored) {
  const StartupOptions options = Parse({"usecwd", "usecwd", "-S"});
  EXPECT_TRUE(options.use_current_directory);
  EXPECT_TRUE(options.silent);
}

TEST_F(CommandLineTest, LocaleNameIsCutToTwoBytes) {
  const StartupOptions spanish = Choose({}, "es_ES.UTF-8");
  EXPECT_EQ(spanish.language_number, 9);
  EXPECT_EQ(U16(spanish.language_code), u"es");
  const StartupOptions hungarian = Choose({}, "hu_HU.ISO-8859-2");
  EXPECT_EQ(hungarian.language_number, 10);
  EXPECT_EQ(U16(hungarian.language_code), u"hu");
  const StartupOptions arabic = Choose({}, "ar_EG.UTF-8");
  EXPECT_EQ(arabic.language_number, 22);
  EXPECT_EQ(U16(arabic.language_code), u"ar");
}

TEST_F(CommandLineTest, ShortLocaleNameIsUsedUnchanged) {
  EXPECT_EQ(Choose({}, "ru").language_number, 17);
  EXPECT_EQ(U16(Choose({}, "ru").language_code), u"ru");
  EXPECT_EQ(Choose({}, "r").language_number, 5);
  EXPECT_EQ(Choose({}, "").language_number, 5);
}

TEST_F(CommandLineTest, LocaleWithoutLanguageFallsBackToEnglish) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "EN_US", "el_GR.UTF-8", "R"}) {
    const StartupOptions options = Choose({}, name);
    EXPECT_EQ(options.language_number, 5) << name;
    EXPECT_EQ(U16(options.language_code), u"en") << name;
  }
  const StartupOptions none = Choose({"-S"}, nullptr);
  EXPECT_EQ(none.language_number, 5);
  EXPECT_EQ(U16(none.language_code), u"en");
  EXPECT_TRUE(none.silent);
}

TEST_F(CommandLineTest, ChoosingKeepsTheFlags) {
  const StartupOptions options = Choose({"usecwd", "/S"}, "de_DE.UTF-8");
  EXPECT_TRUE(options.use_current_directory);
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(options.language_number, 8);
  EXPECT_EQ(U16(options.language_code), u"de");
}

}  // namespace
