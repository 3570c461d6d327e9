// WizardTestAccess: what the wizard's tests look at inside the installer dialog and its
// pages: the page shown and its kind, the main window with its container and buttons, the
// pages made so far, and the widgets of each page. Only tests include this header.

#ifndef UI_WIZARD_TEST_ACCESS_H_
#define UI_WIZARD_TEST_ACCESS_H_

#include <gtk/gtk.h>

#include "ui/dir_select_page.h"
#include "ui/installer_dlg.h"
#include "ui/message_page.h"
#include "ui/progress_page.h"
#include "ui/success_final_page.h"
#include "ui/wizard_dialog_page.h"

class WizardTestAccess {
 public:
  // The dialog. A window, a button or a page that does not exist (yet) is null.
  static int CurrentPageKind(const CInstallerDlg& dialog) { return dialog.flow_.page(); }
  static WizardDialogPage* CurrentPage(const CInstallerDlg& dialog) {
    return dialog.current_page_;
  }
  static GtkWidget* MainWindow(const CInstallerDlg& dialog) { return dialog.main_window_; }
  static GtkWidget* FixedContainer(const CInstallerDlg& dialog) { return dialog.fixed_; }
  static GtkWidget* BackButton(const CInstallerDlg& dialog) { return dialog.back_button_; }
  static GtkWidget* NextButton(const CInstallerDlg& dialog) { return dialog.next_button_; }
  static GtkWidget* CancelButton(const CInstallerDlg& dialog) { return dialog.cancel_button_; }
  static MessagePage* WelcomePage(const CInstallerDlg& dialog) {
    return dialog.welcome_page_.get();
  }
  static DirSelectPage* DirectoryPage(const CInstallerDlg& dialog) {
    return dialog.directory_page_.get();
  }
  static ProgressPage* InstallProgressPage(const CInstallerDlg& dialog) {
    return dialog.progress_page_.get();
  }
  static SuccessFinalPage* FinalSuccessPage(const CInstallerDlg& dialog) {
    return dialog.success_page_.get();
  }
  static MessagePage* FinalErrorPage(const CInstallerDlg& dialog) {
    return dialog.error_page_.get();
  }

  // The widgets of the pages.
  static GtkWidget* TextLabel(const MessagePage& page) { return page.text_label_; }
  static GtkWidget* CheckBox(const SuccessFinalPage& page) { return page.check_box_; }
  static GtkWidget* Entry(const DirSelectPage& page) { return page.entry_; }
  static GtkWidget* BrowseButton(const DirSelectPage& page) { return page.browse_button_; }
  static GtkWidget* StatusLabel(const ProgressPage& page) { return page.status_label_; }
  static GtkWidget* ProgressBar(const ProgressPage& page) { return page.progress_bar_; }
};

#endif  // UI_WIZARD_TEST_ACCESS_H_
