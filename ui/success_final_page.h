// SuccessFinalPage: the page shown after a successful installation: the success text and a
// check box asking whether the kit's description document is to be opened at Finish.
// Widget list: picture, text label, check box.

#ifndef UI_SUCCESS_FINAL_PAGE_H_
#define UI_SUCCESS_FINAL_PAGE_H_

#include <gtk/gtk.h>

#include "text/wide_string.h"
#include "ui/message_page.h"

class SuccessFinalPage : public MessagePage {
 public:
  // The check box carries the text of IDS_SUCCESS_OPENDESCR and starts ticked.
  SuccessFinalPage(GtkWidget* fixed, GdkPixbuf* picture, const WideString& text);

  // Whether the check box is ticked.
  bool OpenDescriptionWanted() const;

  void Arrange(const WizardLayout& layout) override;

 private:
  friend class WizardTestAccess;

  GtkWidget* check_box_;
};

#endif  // UI_SUCCESS_FINAL_PAGE_H_
