#include "ui/button_row.h"

namespace {

constexpr int kCancelRight = 490;
constexpr int kGapBeforeCancel = 20;

}  // namespace

ButtonRow LayOutButtonRow(int widest_need) {
  ButtonRow row;
  row.width = widest_need > kButtonWidth ? widest_need : kButtonWidth;
  row.cancel_left = kCancelRight - row.width;
  row.next_left = row.cancel_left - kGapBeforeCancel - row.width;
  row.back_left = row.next_left - row.width;
  return row;
}
