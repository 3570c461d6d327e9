// ProgressPage: the page shown while the templates are copied: a status label and a progress
// bar. The label shows the start text (IDS_PROGRESS_START) until the percentage is exactly
// 100, then the finish text (IDS_INSTALL_FINISH). Widget list: status label, progress bar.

#ifndef UI_PROGRESS_PAGE_H_
#define UI_PROGRESS_PAGE_H_

#include <gtk/gtk.h>

#include "text/narrow_string.h"
#include "text/wide_string.h"
#include "ui/wizard_dialog_page.h"

class ProgressPage : public WizardDialogPage {
 public:
  // The bar is bar_width x 20 pixels until the page is arranged; the page starts at 0 %.
  ProgressPage(GtkWidget* fixed, int bar_width);

  // The status label and the bar at their places; the bar as wide as the layout's.
  void Arrange(const WizardLayout& layout) override;

  // Shows percent (0 to 100; values outside are shown as the nearer end). Showing the
  // percentage already shown changes no widget, so an unchanged state causes no redraw.
  void SetProgress(int percent);
  // Shows text in the status label in place of the start text (the wait for another
  // installation), until SetProgress is next called.
  void ShowNote(const WideString& text);

 private:
  friend class WizardTestAccess;

  GtkWidget* status_label_;
  GtkWidget* progress_bar_;
  NarrowString start_text_;
  NarrowString finish_text_;
  int shown_percent_ = -1;  // none shown yet
  bool noted_ = false;      // a note is shown in place of the start text
};

#endif  // UI_PROGRESS_PAGE_H_
