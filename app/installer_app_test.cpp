#include "app/installer_app.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "app/string_table.h"
#include "testing/locale_override.h"
#include "testing/text_helpers.h"

namespace {

// The caption in the language made process-wide: what the application hands to the dialog.
WideString CurrentCaption() { return LoadText(NarrowString("IDR_MAINFRAME")); }

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
  EXPECT_TRUE(CurrentCaption().Empty());  // constructing the application chooses nothing
  const StartupOptions options = app.PrepareStartup();
  EXPECT_EQ(U16(options.language_code), u"ru");
  EXPECT_FALSE(options.silent);
  EXPECT_FALSE(options.use_current_directory);
  EXPECT_EQ(options.language_number, 17);
  EXPECT_EQ(U16(CurrentCaption()), u"Установка конфигурации");
}

TEST_F(InstallerAppTest, LocaleWithoutLanguageGivesEnglish) {
  char program[] = "setup";
  char silent[] = "-S";
  char* argv[] = {program, silent, nullptr};
  CInstallerApp app(2, argv);
  const StartupOptions options = app.PrepareStartup();  // C.UTF-8 selects no language
  EXPECT_TRUE(options.silent);
  EXPECT_EQ(U16(options.language_code), u"en");
  EXPECT_EQ(options.language_number, 5);
  EXPECT_EQ(U16(CurrentCaption()), u"Installing configuration");
}

TEST_F(InstallerAppTest, UnknownCodeFollowsTheEnvironmentLocale) {
  locale_.Set("de_DE.UTF-8");
  // Whether the German locale is installed decides what setlocale reports.
  const bool german_installed = std::setlocale(LC_ALL, "") != nullptr;
  char program[] = "setup";
  char language[] = "-Lxx";
  char* argv[] = {program, language, nullptr};
  CInstallerApp app(2, argv);
  const StartupOptions options = app.PrepareStartup();
  if (german_installed) {
    EXPECT_EQ(options.language_number, 8);
    EXPECT_EQ(U16(CurrentCaption()), u"Konfiguration wird installiert");
  } else {
    EXPECT_EQ(options.language_number, 5);
    EXPECT_EQ(U16(CurrentCaption()), u"Installing configuration");
  }
}

TEST_F(InstallerAppTest, NoArgumentsAtAll) {
  char program[] = "setup";
  char* argv[] = {program, nullptr};
  CInstallerApp app(1, argv);
  const StartupOptions options = app.PrepareStartup();
  EXPECT_EQ(options.language_number, 5);
  EXPECT_EQ(U16(CurrentCaption()), u"Installing configuration");
}

}  // namespace
