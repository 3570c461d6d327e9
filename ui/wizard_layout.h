// The wizard window's geometry at the font in force. With the default font every widget
// keeps its usual place: a 500 x 360 window; the text column from x 170, 330 wide, its
// wrapping label 250 high at y 10; the directory page's caption at y 255, its entry 280 x 30
// at (170, 275) and the browse button 30 x 30 at (460, 275); the success page's check box at
// (170, 170); the progress page's status label at (10, 130) and its 480 x 20 bar at (10, 150);
// the separator, 480 x 5, at (10, 310); the button row at y 320 (ui/button_row.h).
//
// Where a widget needs more room (its natural size at the font in force), the places grow
// from it and nothing else moves: a wider check box, caption, entry row, button row or status
// label widens the window (the text column, the entry, the separator and the bar with it); a
// taller text, caption, entry, check box, status label, bar or button pushes what lies below
// it down and makes the window taller. Nothing ever shrinks below the default places.

#ifndef UI_WIZARD_LAYOUT_H_
#define UI_WIZARD_LAYOUT_H_

#include "ui/button_row.h"

// Where the text column of every page starts, right of the page picture.
constexpr int kPageTextLeft = 170;

// The natural sizes the wizard's widgets ask for, in pixels; 0 for "nothing".
struct WizardNeeds {
  int button_width = 0;  // the widest of Back, Next (also labelled Finish) and Cancel
  int button_height = 0;
  int check_box_width = 0;
  int check_box_height = 0;
  int caption_width = 0;  // the directory page's "Template directory:"
  int caption_height = 0;
  int entry_width = 0;
  int entry_height = 0;
  int browse_width = 0;
  int browse_height = 0;
  int status_width = 0;  // the progress page's label, with the widest of its texts
  int status_height = 0;
  int bar_height = 0;
  // The texts of the column wrapped at TextColumnWidth: the tallest page text (welcome,
  // success, error), the directory page's prompt and the success text.
  int page_text_height = 0;
  int prompt_height = 0;
  int success_text_height = 0;
};

struct WizardLayout {
  int window_width;
  int window_height;
  int text_width;  // the wrapping label of the column, at (kPageTextLeft, 10)
  int text_height;
  int caption_top;
  int entry_top;
  int entry_width;
  int entry_height;  // the browse button's height too
  int browse_left;
  int browse_width;
  int check_box_top;
  int status_top;
  int bar_top;
  int bar_width;
  int bar_height;
  int separator_top;
  int separator_width;
  int button_top;
  int button_height;
  ButtonRow buttons;
};

// The width of the text column for these needs; the wrapped heights are measured at it.
int TextColumnWidth(const WizardNeeds& needs);
// The geometry for these needs (see above).
WizardLayout LayOutWizard(const WizardNeeds& needs);
// The geometry of the default font, where everything fits the default places.
WizardLayout DefaultWizardLayout();

#endif  // UI_WIZARD_LAYOUT_H_
