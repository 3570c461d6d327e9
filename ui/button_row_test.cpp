#include "ui/button_row.h"

#include <gtest/gtest.h>

namespace {

TEST(ButtonRowTest, LabelsThatFitKeepTheUsualRow) {
  for (int need : {0, 57, 80}) {
    const ButtonRow row = LayOutButtonRow(need, 500);
    EXPECT_EQ(row.width, 80);
    EXPECT_EQ(row.back_left, 230);
    EXPECT_EQ(row.next_left, 310);
    EXPECT_EQ(row.cancel_left, 410);
  }
}

TEST(ButtonRowTest, AWiderLabelWidensAllThreeToTheLeft) {
  const ButtonRow row = LayOutButtonRow(108, 500);
  EXPECT_EQ(row.width, 108);
  EXPECT_EQ(row.cancel_left + row.width, 490);                // Cancel's right edge stays
  EXPECT_EQ(row.next_left + row.width + 20, row.cancel_left);  // and so does the gap
  EXPECT_EQ(row.back_left + row.width, row.next_left);         // Back and Next touch
  EXPECT_EQ(row.back_left, 146);
}

}  // namespace
