#include "ui/success_final_page.h"

#include "app/string_table.h"
#include "text/locale_conversions.h"

namespace {

constexpr int kCheckBoxTop = 170;

}  // namespace

SuccessFinalPage::SuccessFinalPage(GtkWidget* fixed, GdkPixbuf* picture, const WideString& text)
    : MessagePage(fixed, picture, text),
      check_box_(gtk_check_button_new_with_label(
          ToLocaleBytes(LoadText(NarrowString("IDS_SUCCESS_OPENDESCR"))).CStr())) {
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_box_), TRUE);
  Place(check_box_, kPageTextLeft, kCheckBoxTop);
}

bool SuccessFinalPage::OpenDescriptionWanted() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check_box_)) != FALSE;
}
