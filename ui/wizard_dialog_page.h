// WizardDialogPage: one page of the installer's wizard, a set of widgets placed on the main
// window's fixed container and shown and hidden together (CInstallerDlg::ShowPage).
//
// A page adds its widgets to the container when it is constructed, in the order of its
// widget list, and never removes them; the container owns the widgets, so destroying a page
// object leaves them alone (they go with the main window). Pages are used only on the
// user-interface thread.
//
// Every text a page hands to GTK is converted to UTF-8 (ToUtf8, whatever the locale) and set
// as plain text, never as markup. A page is made at the default places (ui/wizard_layout.h);
// Arrange moves its widgets to the places of the window's layout.

#ifndef UI_WIZARD_DIALOG_PAGE_H_
#define UI_WIZARD_DIALOG_PAGE_H_

#include <gtk/gtk.h>

#include <vector>

#include "text/wide_string.h"
#include "ui/wizard_layout.h"

class WizardDialogPage {
 public:
  explicit WizardDialogPage(GtkWidget* fixed);
  virtual ~WizardDialogPage();
  WizardDialogPage(const WizardDialogPage&) = delete;
  WizardDialogPage& operator=(const WizardDialogPage&) = delete;

  // Called by ShowPage after the page's widgets have been shown; no page does anything here.
  virtual void OnActivate();
  // Gives the page's widgets their places and sizes in layout; the wrapping text label
  // takes the column's width and height.
  virtual void Arrange(const WizardLayout& layout);

  // The page's widgets in creation order.
  const std::vector<GtkWidget*>& widgets() const { return widgets_; }

 protected:
  // Puts widget on the container at (x, y) and appends it to the widget list.
  void Place(GtkWidget* widget, int x, int y);
  // Adds the page picture to the container at its origin (0, 0) and appends it to the list.
  // For assistive technology it is named with IDS_TITLE_INSTALLER.
  GtkWidget* AddPicture(GdkPixbuf* picture);
  // Adds the wrapping text label of the text column: 330 x 250 requested, aligned to the top
  // left, at (170, 10); it starts empty.
  GtkWidget* AddTextLabel();

  GtkWidget* fixed_;

 private:
  std::vector<GtkWidget*> widgets_;
  GtkWidget* text_label_ = nullptr;
};

// Sets the label's text from a WideString, as plain text.
void SetLabelText(GtkWidget* label, const WideString& text);

#endif  // UI_WIZARD_DIALOG_PAGE_H_
