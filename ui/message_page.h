// MessagePage: the page picture with a text beside it; the welcome page and the error page.
// Widget list: picture, text label.

#ifndef UI_MESSAGE_PAGE_H_
#define UI_MESSAGE_PAGE_H_

#include <gtk/gtk.h>

#include "text/wide_string.h"
#include "ui/wizard_dialog_page.h"

class MessagePage : public WizardDialogPage {
 public:
  // picture stays owned by the caller; the page's image takes its own reference.
  MessagePage(GtkWidget* fixed, GdkPixbuf* picture, const WideString& text);

  // Replaces the label's text.
  void SetText(const WideString& text);

 protected:
  friend class WizardTestAccess;

  GtkWidget* picture_;
  GtkWidget* text_label_;
};

#endif  // UI_MESSAGE_PAGE_H_
