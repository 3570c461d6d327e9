#include "ui/message_page.h"

MessagePage::MessagePage(GtkWidget* fixed, GdkPixbuf* picture, const WideString& text)
    : WizardDialogPage(fixed), picture_(AddPicture(picture)), text_label_(AddTextLabel()) {
  SetText(text);
}

void MessagePage::SetText(const WideString& text) { SetLabelText(text_label_, text); }
