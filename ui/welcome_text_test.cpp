#include "ui/welcome_text.h"

#include <gtest/gtest.h>

#include "app/string_table.h"
#include "testing/kit_builders.h"
#include "testing/text_helpers.h"
#include "ui/ui_test_support.h"

namespace {

class WelcomeTextTest : public ::testing::Test {
 protected:
  // Writes and opens a kit with the given descriptions and no entries.
  void OpenKit(const std::vector<KitInfo>& descriptions) {
    KitWriter writer;
    for (const KitInfo& info : descriptions) writer.AddDescription(info);
    const std::string path = scratch_.Child("kit.efd");
    WriteKitFile(writer, path);
    ASSERT_EQ(kit_.Open(WideFromUtf8(path)), kSuccess);
  }

  WizardScratch scratch_;
  DistributionKit kit_;
};

KitInfo Info(const char16_t* language, const char16_t* product, const char16_t* vendor) {
  return KitInfo{WideString(language), WideString(product), WideString(vendor), WideString()};
}

TEST_F(WelcomeTextTest, ProductAndVendorOfTheLanguage) {
  OpenKit({Info(u"en", u"Templates", u"Tavlo"), Info(u"ru", u"Шаблоны", u"Тавло")});
  EXPECT_EQ(U16(WelcomeText(kit_, WideString(u"en"))),
            u"Welcome to the product installation program Templates (Tavlo).");
  EXPECT_EQ(U16(WelcomeText(kit_, WideString(u"RU"))),
            u"Welcome to the product installation program Шаблоны (Тавло).");
}

TEST_F(WelcomeTextTest, MissingNamesAreReplacedByTheDefaults) {
  OpenKit({Info(u"en", u"", u"")});
  EXPECT_EQ(U16(WelcomeText(kit_, WideString(u"en"))),
            u"Welcome to the product installation program <Product> (<Vendor>).");
  // A language the kit does not describe gives the defaults too.
  EXPECT_EQ(U16(WelcomeText(kit_, WideString(u"de"))),
            u"Welcome to the product installation program <Product> (<Vendor>).");
}

TEST_F(WelcomeTextTest, TextsFollowTheChosenLanguage) {
  OpenKit({Info(u"de", u"Vorlagen", u"")});
  SetCurrentLanguage(FindLanguage(NarrowString("de")));
  const WideString text = WelcomeText(kit_, WideString(u"de"));
  EXPECT_NE(U16(text).find(u"Vorlagen ("), std::u16string::npos);
  EXPECT_EQ(U16(text).find(u"Welcome"), std::u16string::npos);
}

TEST_F(WelcomeTextTest, MarkupCharactersStayAsTheyAre) {
  OpenKit({Info(u"en", u"<b>A & B</b>", u"X &amp; Y")});
  EXPECT_EQ(U16(WelcomeText(kit_, WideString(u"en"))),
            u"Welcome to the product installation program <b>A & B</b> (X &amp; Y).");
}

}  // namespace
