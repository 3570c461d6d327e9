#include "app/installer_app.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "app/string_table.h"
#include "testing/locale_override.h"
#include "testing/text_helpers.h"

namespace {

class InstallerAppTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(0); }

  LocaleOverride locale_{"C.UTF-8"};
};

TEST_F(InstallerAppTest, LanguageOptionChoosesLanguageAndCaption) {
  char program[] = "setup";
  char language[] = "-Lru";
  char* argv[] = {program, language, nullptr};
  CInstallerApp app(2, argv);
  EXPECT_EQ(app.LanguageNumber(), 0);
  EXPECT_TRUE(app.Caption().Empty());
  const StartupOptions options = app.PrepareStartup();
  EXPECT_EQ(U16(options.language_code), u"ru");
  EXPECT_FALSE(options.silent);
  EXPECT_FALSE(options.use_current_directory);
  EXPECT_EQ(app.LanguageNumber(), 17);
  EXPECT_EQ(GetCurrentLanguage(), 17);
  EXPECT_EQ(U16(app.Caption()), u"Установка конфигурации");
}

TEST_F(InstallerAppTest, LocaleWithoutLanguageGivesEnglish) {
  char program[] = "setup";
  char silent[] = "-S";
  char* argv[] = {program, silent, nullptr};
  CInstallerApp app(2, argv);
  const StartupOptions options = app.PrepareStartup();  // C.UTF-8 selects no language
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(U16(options.language_code), u"en");
  EXPECT_EQ(app.LanguageNumber(), 5);
  EXPECT_EQ(GetCurrentLanguage(), 5);
  EXPECT_EQ(U16(app.Caption()), u"Installing configuration");
}

TEST_F(InstallerAppTest, UnknownCodeFollowsTheEnvironmentLocale) {
  locale_.Set("de_DE.UTF-8");
  // Whether the German locale is installed decides what setlocale reports.
  const bool german_installed = std::setlocale(LC_ALL, "") != nullptr;
  char program[] = "setup";
  char language[] = "-Lxx";
  char* argv[] = {program, language, nullptr};
  CInstallerApp app(2, argv);
  app.PrepareStartup();
  if (german_installed) {
    EXPECT_EQ(app.LanguageNumber(), 8);
    EXPECT_EQ(U16(app.Caption()), u"Konfiguration wird installiert");
  } else {
    EXPECT_EQ(app.LanguageNumber(), 5);
    EXPECT_EQ(U16(app.Caption()), u"Installing configuration");
  }
}

TEST_F(InstallerAppTest, NoArgumentsAtAll) {
  char program[] = "setup";
  char* argv[] = {program, nullptr};
  CInstallerApp app(1, argv);
  app.PrepareStartup();
  EXPECT_EQ(app.LanguageNumber(), 5);
  EXPECT_EQ(U16(app.Caption()), u"Installing configuration");
}

}  // namespace
