#include "ui/button_row.h"

namespace {

constexpr int kMargin = 10;
constexpr int kGapBeforeCancel = 20;

int CommonWidth(int widest_need) { return widest_need > kButtonWidth ? widest_need : kButtonWidth; }

}  // namespace

ButtonRow LayOutButtonRow(int widest_need, int window_width) {
  ButtonRow row;
  row.width = CommonWidth(widest_need);
  row.cancel_left = window_width - kMargin - row.width;
  row.next_left = row.cancel_left - kGapBeforeCancel - row.width;
  row.back_left = row.next_left - row.width;
  return row;
}

int ButtonRowWindowWidth(int widest_need) {
  return kMargin + 3 * CommonWidth(widest_need) + kGapBeforeCancel + kMargin;
}
