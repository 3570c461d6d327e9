#include "ui/wizard_dialog_page.h"

#include "text/locale_conversions.h"

namespace {

constexpr int kTextLabelTop = 10;
constexpr int kTextLabelWidth = 330;
constexpr int kTextLabelHeight = 250;

}  // namespace

WizardDialogPage::WizardDialogPage(GtkWidget* fixed) : fixed_(fixed) {}

WizardDialogPage::~WizardDialogPage() = default;

void WizardDialogPage::OnActivate() {}

void WizardDialogPage::Place(GtkWidget* widget, int x, int y) {
  gtk_fixed_put(GTK_FIXED(fixed_), widget, x, y);
  widgets_.push_back(widget);
}

GtkWidget* WizardDialogPage::AddPicture(GdkPixbuf* picture) {
  GtkWidget* image = gtk_image_new_from_pixbuf(picture);
  gtk_container_add(GTK_CONTAINER(fixed_), image);
  widgets_.push_back(image);
  return image;
}

GtkWidget* WizardDialogPage::AddTextLabel() {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_widget_set_size_request(label, kTextLabelWidth, kTextLabelHeight);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  Place(label, kPageTextLeft, kTextLabelTop);
  return label;
}

void SetLabelText(GtkWidget* label, const WideString& text) {
  gtk_label_set_text(GTK_LABEL(label), ToLocaleBytes(text).CStr());
}
