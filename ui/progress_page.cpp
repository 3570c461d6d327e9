#include "ui/progress_page.h"

#include "app/string_table.h"
#include "text/utf8_text.h"

namespace {

constexpr int kPageLeft = 10;
constexpr int kFullPercent = 100;

}  // namespace

ProgressPage::ProgressPage(GtkWidget* fixed, int bar_width)
    : WizardDialogPage(fixed),
      status_label_(gtk_label_new(nullptr)),
      progress_bar_(gtk_progress_bar_new()),
      start_text_(ToUtf8(LoadText(NarrowString("IDS_PROGRESS_START")))),
      finish_text_(ToUtf8(LoadText(NarrowString("IDS_INSTALL_FINISH")))) {
  Place(status_label_, kPageLeft, 0);
  Place(progress_bar_, kPageLeft, 0);
  const WizardLayout layout = DefaultWizardLayout();
  ProgressPage::Arrange(layout);
  gtk_widget_set_size_request(progress_bar_, bar_width, layout.bar_height);
  SetProgress(0);
}

void ProgressPage::Arrange(const WizardLayout& layout) {
  WizardDialogPage::Arrange(layout);
  gtk_fixed_move(GTK_FIXED(fixed_), status_label_, kPageLeft, layout.status_top);
  gtk_fixed_move(GTK_FIXED(fixed_), progress_bar_, kPageLeft, layout.bar_top);
  gtk_widget_set_size_request(progress_bar_, layout.bar_width, layout.bar_height);
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
  gtk_label_set_text(GTK_LABEL(status_label_), ToUtf8(text).CStr());
}
