#include "tools/describe_option.h"

#include <gtest/gtest.h>

TEST(DescribeOptionTest, SplitsAtTheFirstThreeColons) {
  KitInfo info;
  NarrowString failure;
  ASSERT_TRUE(ParseDescribeOption("ru:Prod:Vend:docs\\a:b.htm", &info, &failure));
  EXPECT_TRUE(info.language == WideString(u"ru"));
  EXPECT_TRUE(info.product == WideString(u"Prod"));
  EXPECT_TRUE(info.vendor == WideString(u"Vend"));
  EXPECT_TRUE(info.description == WideString(u"docs\\a:b.htm"));
}

TEST(DescribeOptionTest, EmptyPartsAreAllowed) {
  KitInfo info{WideString(u"x"), WideString(u"x"), WideString(u"x"), WideString(u"x")};
  NarrowString failure;
  ASSERT_TRUE(ParseDescribeOption(":::", &info, &failure));
  EXPECT_TRUE(info.language.Empty());
  EXPECT_TRUE(info.product.Empty());
  EXPECT_TRUE(info.vendor.Empty());
  EXPECT_TRUE(info.description.Empty());
}

TEST(DescribeOptionTest, TooFewColonsAreRefused) {
  for (const char* text : {"", "en", "en:P", "en:P:V"}) {
    KitInfo info;
    NarrowString failure;
    EXPECT_FALSE(ParseDescribeOption(text, &info, &failure)) << text;
    EXPECT_NE(failure.Find("LANG:PRODUCT:VENDOR:DOCUMENT"), NarrowString::npos);
  }
}
