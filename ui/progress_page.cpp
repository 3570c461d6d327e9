#include "ui/progress_page.h"

#include "app/string_table.h"
#include "text/locale_conversions.h"

namespace {

constexpr int kPageLeft = 10;
constexpr int kStatusTop = 130;
constexpr int kBarTop = 150;
constexpr int kBarHeight = 20;
constexpr int kFullPercent = 100;

}  // namespace

ProgressPage::ProgressPage(GtkWidget* fixed, int bar_width)
    : WizardDialogPage(fixed),
      status_label_(gtk_label_new(nullptr)),
      progress_bar_(gtk_progress_bar_new()),
      start_text_(ToLocaleBytes(LoadText(NarrowString("IDS_PROGRESS_START")))),
      finish_text_(ToLocaleBytes(LoadText(NarrowString("IDS_INSTALL_FINISH")))) {
  Place(status_label_, kPageLeft, kStatusTop);
  gtk_widget_set_size_request(progress_bar_, bar_width, kBarHeight);
  Place(progress_bar_, kPageLeft, kBarTop);
  SetProgress(0);
}

void ProgressPage::SetProgress(int percent) {
  if (percent < 0) percent = 0;
  if (percent > kFullPercent) percent = kFullPercent;
  if (percent == shown_percent_ && !noted_) return;
  noted_ = false;
  shown_percent_ = percent;
  gtk_label_set_text(GTK_LABEL(status_label_),
                     (percent == kFullPercent ? finish_text_ : start_text_).CStr());
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_bar_), percent / 100.0);
}

void ProgressPage::ShowNote(const WideString& text) {
  if (noted_) return;
  noted_ = true;
  gtk_label_set_text(GTK_LABEL(status_label_), ToLocaleBytes(text).CStr());
}
