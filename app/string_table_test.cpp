#include "app/string_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/text_sets.h"
#include "testing/locale_override.h"
#include "testing/text_helpers.h"

namespace {

// Taken during static initialisation, before any test can set a language.
const bool caption_empty_before_main = LoadText(NarrowString("IDR_MAINFRAME")).Empty();

WideString TextOf(int language, const char* identifier) {
  SetCurrentLanguage(language);
  return LoadText(NarrowString(identifier));
}

// The identifiers in the order every set lists them.
const char* const kIdentifiers[kTextSetSize] = {
    "IDS_WIZARD_BACK",       "IDS_WIZARD_NEXT",       "IDS_WIZARD_FINISH",
    "IDS_WIZARD_CANCEL",     "IDS_ACCEPT_CANCEL",     "IDS_TITLE_INSTALLER",
    "IDS_PREPARECOPY",       "IDS_INSTALL_ERROR",     "IDS_ERROR_NOSOURCE",
    "IDS_ERROR_NOTARGET",    "IDS_ERROR_NOSPACE",     "IDS_CHOOSEDIR_FOLDER",
    "IDS_CHOOSEDIR_TITLE",   "IDR_MAINFRAME",         "IDS_SETUP_EMPTYTARGET",
    "IDS_INSTALL_FINISH",    "IDS_ERROR_DAMAGEDSOURCE", "IDS_DEFPRODUCT",
    "IDS_DEFPROVIDER",       "IDS_SUCCESS_FINISH",    "IDS_SUCCESS_OPENDESCR",
    "IDS_PROGRESS_START",    "IDS_ERROR_FINISH",      "IDS_CANCEL_FINISH",
    "IDS_BROWSE_SELDIR",     "IDS_BROWSE_OK",         "IDS_BROWSE_CANCEL",
    "IDS_WELCOME_TITLE",     "IDS_SETUP_EXISTEDTARGET", "IDS_DESTINATION_PROMPT",
    "IDS_TEMPLATE_CATALOG",  "IDS_ERROR_RESTORE",     "IDS_ERROR_SETTINGS",
    "IDS_ERROR_UNTRUSTED",
};

struct Language {
  int number;
  const char* code;
};

const Language kLanguages[] = {
    {1, "hy"},  {2, "az"},  {3, "bg"},  {4, "zh"},  {5, "en"},  {6, "fr"},
    {7, "ka"},  {8, "de"},  {9, "es"},  {10, "hu"}, {11, "it"}, {12, "kk"},
    {13, "lv"}, {14, "lt"}, {15, "pl"}, {16, "ro"}, {17, "ru"}, {18, "es"},
    {19, "tr"}, {20, "uk"}, {21, "vi"}, {22, "ar"}, {23, "tk"},
};

const TextPair* const kAllSets[] = {
    kArmenianTexts,   kAzerbaijaniTexts, kBulgarianTexts, kChineseTexts,   kEnglishTexts,
    kFrenchTexts,     kGeorgianTexts,    kGermanTexts,    kSpanishTexts,   kHungarianTexts,
    kItalianTexts,    kKazakhTexts,      kLatvianTexts,   kLithuanianTexts, kPolishTexts,
    kRomanianTexts,   kRussianTexts,     kTurkishTexts,   kUkrainianTexts, kVietnameseTexts,
    kTurkmenTexts,
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    unsigned c = *p++;
    int more = 0;
    unsigned min = 0;
    if (c < 0x80) continue;
    if ((c & 0xE0) == 0xC0) { more = 1; min = 0x80; c &= 0x1F; }
    else if ((c & 0xF0) == 0xE0) { more = 2; min = 0x800; c &= 0x0F; }
    else if ((c & 0xF8) == 0xF0) { more = 3; min = 0x10000; c &= 0x07; }
    else return false;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return false;
      c = (c << 6) | (*p & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  }
  return true;
}

class StringTableTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentLanguage(0); }

  // LoadText decodes through the environment's locale.
  LocaleOverride locale_{"C.UTF-8"};
};

TEST(StringTableStartTest, IsLanguagelessBeforeMain) {
  EXPECT_TRUE(caption_empty_before_main);
}

TEST_F(StringTableTest, HoldsExactlyTheListedLanguagesInAscendingOrder) {
  const StringTable& table = GetStringTable();
  ASSERT_EQ(table.size(), std::size(kLanguages));
  auto entry = table.begin();
  for (const Language& language : kLanguages) {
    EXPECT_EQ(entry->first, language.number);
    EXPECT_TRUE(entry->second.code.Equals(language.code)) << language.number;
    ++entry;
  }
}

TEST_F(StringTableTest, FindLanguageIsExactAndCaseSensitive) {
  EXPECT_EQ(FindLanguage(NarrowString("es")), 9);
  EXPECT_EQ(FindLanguage(NarrowString("EN")), 0);
  EXPECT_EQ(FindLanguage(NarrowString("")), 0);
  EXPECT_EQ(FindLanguage(NarrowString("hu")), 10);
  EXPECT_EQ(FindLanguage(NarrowString("ar")), 22);
  EXPECT_EQ(FindLanguage(NarrowString("e")), 0);
  EXPECT_EQ(FindLanguage(NarrowString("en ")), 0);
  EXPECT_EQ(FindLanguage(NarrowString("ru_RU")), 0);
  EXPECT_EQ(FindLanguage(NarrowString("el")), 0);  // no Greek entry
  EXPECT_EQ(FindLanguage(NarrowString("en\0", 3)), 0);
}

TEST_F(StringTableTest, EveryCodeFindsItsLowestNumber) {
  for (const Language& language : kLanguages) {
    const int expected = language.number == 18 ? 9 : language.number;
    EXPECT_EQ(FindLanguage(NarrowString(language.code)), expected) << language.code;
  }
}

TEST_F(StringTableTest, LoadTextWithoutLanguageIsEmpty) {
  SetCurrentLanguage(0);
  EXPECT_TRUE(LoadText(NarrowString("IDS_WIZARD_NEXT")).Empty());
  SetCurrentLanguage(24);
  EXPECT_TRUE(LoadText(NarrowString("IDS_WIZARD_NEXT")).Empty());
  SetCurrentLanguage(-1);
  EXPECT_TRUE(LoadText(NarrowString("IDS_WIZARD_NEXT")).Empty());
}

TEST_F(StringTableTest, UnknownIdentifierIsEmptyWithoutFallback) {
  SetCurrentLanguage(17);
  EXPECT_TRUE(LoadText(NarrowString("IDS_NOT_THERE")).Empty());
  EXPECT_TRUE(LoadText(NarrowString("IDS_WIZARD")).Empty());        // a prefix of keys
  EXPECT_TRUE(LoadText(NarrowString("IDS_WIZARD_NEXTX")).Empty());  // a key plus more
  EXPECT_TRUE(LoadText(NarrowString("ids_wizard_next")).Empty());
  EXPECT_TRUE(LoadText(NarrowString("")).Empty());
}

TEST_F(StringTableTest, EverySetListsTheIdentifiersOnceInOrder) {
  for (const TextPair* set : kAllSets) {
    for (std::size_t i = 0; i < kTextSetSize; ++i) {
      ASSERT_NE(set[i].identifier, nullptr);
      ASSERT_NE(set[i].text, nullptr);
      EXPECT_STREQ(set[i].identifier, kIdentifiers[i]) << set[1].text;
      EXPECT_NE(set[i].text[0], '\0') << kIdentifiers[i];
      EXPECT_TRUE(IsValidUtf8(set[i].text)) << kIdentifiers[i];
    }
  }
}

TEST_F(StringTableTest, EveryEntryHoldsAllIdentifiers) {
  const std::set<std::string> expected(std::begin(kIdentifiers), std::end(kIdentifiers));
  ASSERT_EQ(expected.size(), kTextSetSize);
  for (const auto& [number, entry] : GetStringTable()) {
    std::set<std::string> keys;
    for (const auto& [identifier, text] : entry.texts) keys.insert(identifier.CStr());
    EXPECT_EQ(keys, expected) << number;
  }
}

TEST_F(StringTableTest, CaptionEqualsInstallerTitleInEveryLanguage) {
  for (const Language& language : kLanguages) {
    const WideString caption = TextOf(language.number, "IDR_MAINFRAME");
    EXPECT_FALSE(caption.Empty()) << language.number;
    EXPECT_EQ(U16(caption), U16(TextOf(language.number, "IDS_TITLE_INSTALLER")))
        << language.number;
  }
}

TEST_F(StringTableTest, ArabicCodeCarriesTheEnglishTexts) {
  for (const char* identifier : kIdentifiers) {
    const WideString english = TextOf(5, identifier);
    EXPECT_FALSE(english.Empty());
    EXPECT_EQ(U16(TextOf(22, identifier)), U16(english)) << identifier;
  }
}

TEST_F(StringTableTest, SecondSpanishEntryCarriesTheSpanishTexts) {
  for (const char* identifier : kIdentifiers) {
    const WideString spanish = TextOf(9, identifier);
    EXPECT_FALSE(spanish.Empty());
    EXPECT_EQ(U16(TextOf(18, identifier)), U16(spanish)) << identifier;
  }
  EXPECT_EQ(U16(TextOf(18, "IDS_WIZARD_NEXT")), u"Seguir >");
}

TEST_F(StringTableTest, NextButtonOfEveryLanguage) {
  const struct {
    int number;
    const char16_t* text;
  } expected[] = {
      {1, u"Հաջորդիվ >"}, {2, u"Növbəti >"},   {3, u"Напред >"},     {4, u"继续>"},
      {5, u"Next >"},       {6, u"Suivant >"},    {7, u"შემდეგ>"},     {8, u"Weiter >"},
      {9, u"Seguir >"},     {10, u"Következő>"},  {11, u"Avanti>"},     {12, u"Әрі қарай >"},
      {13, u"Tālāk >"},     {14, u"Toliau >"},    {15, u"Dalej >"},     {16, u"Înainte >"},
      {17, u"Далее >"},     {18, u"Seguir >"},    {19, u"İleri >"},     {20, u"Наступна >"},
      {21, u"Tiếp theo >"}, {22, u"Next >"},      {23, u"One >"},
  };
  for (const auto& row : expected) {
    EXPECT_EQ(U16(TextOf(row.number, "IDS_WIZARD_NEXT")), row.text) << row.number;
  }
}

TEST_F(StringTableTest, TextsAreKeptByteForByte) {
  EXPECT_EQ(U16(TextOf(12, "IDS_ERROR_NOSOURCE")),
            u" tavlo5.efd орнату файлы жинағы табылған жоқ.");
  EXPECT_EQ(U16(TextOf(12, "IDS_ERROR_DAMAGEDSOURCE")).substr(0, 12), u" tavlo5.efd ");
  EXPECT_EQ(U16(TextOf(17, "IDS_WIZARD_BACK")), u"< Назад");
  EXPECT_EQ(U16(TextOf(17, "IDS_ACCEPT_CANCEL")), u"Вы действительно хотите отменить установку?");
  EXPECT_EQ(U16(TextOf(17, "IDR_MAINFRAME")), u"Установка конфигурации");
  EXPECT_EQ(U16(TextOf(17, "IDS_DEFPRODUCT")), u"<Продукт>");
  EXPECT_EQ(U16(TextOf(8, "IDS_WIZARD_BACK")), u"< Zurück");
  EXPECT_EQ(U16(TextOf(8, "IDS_ACCEPT_CANCEL")),
            u"Soll die Installation wirklich abgebrochen werden?");
  EXPECT_EQ(U16(TextOf(8, "IDR_MAINFRAME")), u"Konfiguration wird installiert");
  EXPECT_EQ(U16(TextOf(8, "IDS_DEFPRODUCT")), u"<Produkt>");
  EXPECT_EQ(U16(TextOf(5, "IDS_CHOOSEDIR_FOLDER")), u"&Folder:");
  EXPECT_EQ(U16(TextOf(5, "IDS_ERROR_NOSOURCE")),
            u"Distribution kit file tavlo5.efd not found.");
  EXPECT_EQ(U16(TextOf(5, "IDS_DEFPRODUCT")), u"<Product>");
  EXPECT_EQ(U16(TextOf(6, "IDS_ERROR_NOSPACE")), u"Pas assez d'espace dans le répertoire Temp.");
  EXPECT_EQ(U16(TextOf(6, "IDS_ACCEPT_CANCEL")),
            u"Êtes-vous sûr de vouloir annuler l’installation?");
  EXPECT_EQ(U16(TextOf(4, "IDS_CHOOSEDIR_FOLDER")), u"&文件夹:");
  EXPECT_EQ(U16(TextOf(9, "IDS_ACCEPT_CANCEL")), u"¿Quiere cancelar la instalación?");
  EXPECT_EQ(U16(TextOf(16, "IDS_ERROR_NOSPACE")), u"Spațiu insuficient în folderul Temp.");
  EXPECT_EQ(U16(TextOf(16, "IDS_ACCEPT_CANCEL")), u"Doriţi să anulaţi instalarea?");
  EXPECT_NE(U16(TextOf(7, "IDS_DESTINATION_PROMPT")).find(u"ფაილებს  მითითებულ"),
            std::u16string::npos);
  EXPECT_EQ(U16(TextOf(23, "IDS_ERROR_DAMAGEDSOURCE")).substr(0, 12), u"tavlo5.efd  ");
  EXPECT_EQ(U16(TextOf(1, "IDS_TEMPLATE_CATALOG")), u"Ձևանմուշների կատալոգ");
  EXPECT_EQ(U16(TextOf(20, "IDS_WIZARD_FINISH")), u"ОК");
  EXPECT_EQ(U16(TextOf(21, "IDS_WIZARD_CANCEL")), u"Hủy bỏ");
  EXPECT_EQ(U16(TextOf(19, "IDS_DEFPRODUCT")), u"<Ürün>");
  EXPECT_EQ(U16(TextOf(15, "IDS_BROWSE_CANCEL")), u"Anulowanie");
  EXPECT_EQ(U16(TextOf(14, "IDS_DEFPROVIDER")), u"<Tiekėjas>");
  EXPECT_EQ(U16(TextOf(13, "IDS_WIZARD_BACK")), u"< Atpakaļ");
  EXPECT_EQ(U16(TextOf(11, "IDS_ACCEPT_CANCEL")),
            u"Sei sicuro di voler annullare l'installazione?");
  EXPECT_EQ(U16(TextOf(3, "IDS_DEFPROVIDER")), u"<Доставчик>");
  EXPECT_EQ(U16(TextOf(2, "IDS_WIZARD_CANCEL")), u"Ləğv etmə");
  // The two texts that a path follows on the next line.
  EXPECT_EQ(U16(TextOf(5, "IDS_ERROR_SETTINGS")),
            u"The templates were installed, but the template directory could not be recorded "
            u"in the launcher's settings file:");
  EXPECT_EQ(U16(TextOf(5, "IDS_ERROR_UNTRUSTED")),
            u"The template directory holds a work folder of an earlier installation that this "
            u"installation program cannot trust (it belongs to another user, others can change "
            u"it, or it is damaged). It was left as it is, and nothing was installed into the "
            u"directory. The folder:");
  EXPECT_EQ(U16(TextOf(17, "IDS_ERROR_SETTINGS")).substr(0, 21), u"Шаблоны установлены, ");
}

TEST_F(StringTableTest, EachLoadReturnsAnIndependentString) {
  SetCurrentLanguage(5);
  WideString first = LoadText(NarrowString("IDS_WELCOME_TITLE"));
  const WideString second = LoadText(NarrowString("IDS_WELCOME_TITLE"));
  first.Append(u"!");
  EXPECT_EQ(U16(second), u"Welcome to the product installation program");
  EXPECT_EQ(U16(LoadText(NarrowString("IDS_WELCOME_TITLE"))),
            u"Welcome to the product installation program");
}

}  // namespace
