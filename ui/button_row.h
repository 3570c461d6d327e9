// The row of the frame's three buttons, Back, Next and Cancel, at the bottom right of the
// window: Back and Next side by side, then a gap, then Cancel, whose right edge lies 10
// pixels inside the window's.
//
// The three share one width: 80 pixels, which gives the positions 230, 310 and 410 in the
// 500-pixel window, unless a label of the chosen language needs more. Then all three take the widest need and the row
// grows to the left, keeping Cancel's right edge and the gap, so that no label is cut and
// the buttons keep one size whatever page is shown.

#ifndef UI_BUTTON_ROW_H_
#define UI_BUTTON_ROW_H_

constexpr int kButtonRowTop = 320;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 30;

struct ButtonRow {
  int width;
  int back_left;
  int next_left;
  int cancel_left;
};

// The row for buttons whose widest label needs widest_need pixels (the natural width of a
// button with that label, frame and padding included), in a window window_width wide.
ButtonRow LayOutButtonRow(int widest_need, int window_width);
// The width a row of buttons widest_need wide takes, with the window's margins on both sides.
int ButtonRowWindowWidth(int widest_need);

#endif  // UI_BUTTON_ROW_H_
