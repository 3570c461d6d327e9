#include "ui/wizard_layout.h"

#include <algorithm>

namespace {

constexpr int kWindowWidth = 500;
constexpr int kMargin = 10;
constexpr int kTextTop = 10;
constexpr int kTextHeight = 250;
constexpr int kCaptionTop = 255;
constexpr int kCaptionHeight = 20;
constexpr int kEntryWidth = 280;
constexpr int kEntryHeight = 30;
constexpr int kBrowseWidth = 30;
constexpr int kCheckBoxTop = 170;
constexpr int kStatusLeft = 10;
constexpr int kStatusTop = 130;
constexpr int kStatusHeight = 20;
constexpr int kBarHeight = 20;
constexpr int kSeparatorTop = 310;
constexpr int kSeparatorHeight = 5;
// Between a text and what follows it below.
constexpr int kGap = 5;

int BrowseWidth(const WizardNeeds& needs) { return std::max(kBrowseWidth, needs.browse_width); }

int WindowWidth(const WizardNeeds& needs) {
  const int entry_row = std::max(kEntryWidth, needs.entry_width) + kMargin + BrowseWidth(needs);
  const int column = std::max({kWindowWidth - kPageTextLeft, needs.check_box_width + kMargin,
                               needs.caption_width + kMargin, entry_row + kMargin});
  return std::max({kWindowWidth, kPageTextLeft + column, ButtonRowWindowWidth(needs.button_width),
                   kStatusLeft + needs.status_width + kMargin});
}

}  // namespace

int TextColumnWidth(const WizardNeeds& needs) { return WindowWidth(needs) - kPageTextLeft; }

WizardLayout LayOutWizard(const WizardNeeds& needs) {
  WizardLayout layout;
  layout.window_width = WindowWidth(needs);
  layout.text_width = layout.window_width - kPageTextLeft;
  layout.text_height = std::max({kTextHeight, needs.page_text_height, needs.prompt_height});

  layout.browse_width = BrowseWidth(needs);
  layout.entry_width = layout.text_width - kMargin - layout.browse_width - kMargin;
  layout.browse_left = kPageTextLeft + layout.entry_width + kMargin;
  layout.caption_top = std::max(kCaptionTop, kTextTop + needs.prompt_height + kGap);
  layout.entry_top = layout.caption_top + std::max(kCaptionHeight, needs.caption_height);
  layout.entry_height = std::max({kEntryHeight, needs.entry_height, needs.browse_height});

  layout.check_box_top = std::max(kCheckBoxTop, kTextTop + needs.success_text_height + 2 * kGap);

  layout.status_top = kStatusTop;
  layout.bar_top = kStatusTop + std::max(kStatusHeight, needs.status_height);
  layout.bar_width = layout.window_width - 2 * kMargin;
  layout.bar_height = std::max(kBarHeight, needs.bar_height);

  layout.separator_top =
      std::max({kSeparatorTop, kTextTop + layout.text_height + kGap,
                layout.entry_top + layout.entry_height + kGap,
                layout.check_box_top + needs.check_box_height + kGap,
                layout.bar_top + layout.bar_height + kGap});
  layout.separator_width = layout.window_width - 2 * kMargin;
  layout.button_top = layout.separator_top + kSeparatorHeight + kGap;
  layout.button_height = std::max(kButtonHeight, needs.button_height);
  layout.window_height = layout.button_top + layout.button_height + kMargin;
  layout.buttons = LayOutButtonRow(needs.button_width, layout.window_width);
  return layout;
}

WizardLayout DefaultWizardLayout() { return LayOutWizard(WizardNeeds()); }
