#include "ui/success_final_page.h"

#include "app/string_table.h"
#include "text/utf8_text.h"

SuccessFinalPage::SuccessFinalPage(GtkWidget* fixed, GdkPixbuf* picture, const WideString& text)
    : MessagePage(fixed, picture, text),
      check_box_(gtk_check_button_new_with_label(
          ToUtf8(LoadText(NarrowString("IDS_SUCCESS_OPENDESCR"))).CStr())) {
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_box_), TRUE);
  Place(check_box_, kPageTextLeft, 0);
  SuccessFinalPage::Arrange(DefaultWizardLayout());
}

void SuccessFinalPage::Arrange(const WizardLayout& layout) {
  MessagePage::Arrange(layout);
  gtk_fixed_move(GTK_FIXED(fixed_), check_box_, kPageTextLeft, layout.check_box_top);
}

bool SuccessFinalPage::OpenDescriptionWanted() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check_box_)) != FALSE;
}
