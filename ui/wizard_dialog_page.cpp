#include "ui/wizard_dialog_page.h"

#include "app/string_table.h"
#include "text/utf8_text.h"

namespace {

constexpr int kTextLabelTop = 10;

}  // namespace

WizardDialogPage::WizardDialogPage(GtkWidget* fixed) : fixed_(fixed) {}

WizardDialogPage::~WizardDialogPage() = default;

void WizardDialogPage::OnActivate() {}

void WizardDialogPage::Arrange(const WizardLayout& layout) {
  if (text_label_ != nullptr) {
    gtk_widget_set_size_request(text_label_, layout.text_width, layout.text_height);
  }
}

void WizardDialogPage::Place(GtkWidget* widget, int x, int y) {
  gtk_fixed_put(GTK_FIXED(fixed_), widget, x, y);
  widgets_.push_back(widget);
}

GtkWidget* WizardDialogPage::AddPicture(GdkPixbuf* picture) {
  GtkWidget* image = gtk_image_new_from_pixbuf(picture);
  atk_object_set_name(gtk_widget_get_accessible(image),
                      ToUtf8(LoadText(NarrowString("IDS_TITLE_INSTALLER"))).CStr());
  gtk_container_add(GTK_CONTAINER(fixed_), image);
  widgets_.push_back(image);
  return image;
}

GtkWidget* WizardDialogPage::AddTextLabel() {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  Place(label, kPageTextLeft, kTextLabelTop);
  text_label_ = label;
  WizardDialogPage::Arrange(DefaultWizardLayout());
  return label;
}

void SetLabelText(GtkWidget* label, const WideString& text) {
  gtk_label_set_text(GTK_LABEL(label), ToUtf8(text).CStr());
}
