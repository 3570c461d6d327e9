// DirSelectPage: the page on which the user chooses the template directory: a prompt, a
// caption, an entry field holding the directory and a browse button "..." that opens a
// folder chooser. Widget list: picture, prompt label, caption label, entry field, browse
// button.

#ifndef UI_DIR_SELECT_PAGE_H_
#define UI_DIR_SELECT_PAGE_H_

#include <gtk/gtk.h>

#include "text/narrow_string.h"
#include "text/wide_string.h"
#include "ui/wizard_dialog_page.h"

class DirSelectPage : public WizardDialogPage {
 public:
  DirSelectPage(GtkWidget* fixed, GdkPixbuf* picture);

  // Writes path into the entry field, replacing its whole text. The field shows the text
  // as a message shows it (ToLocaleBytes), so a path whose bytes are not all text shows
  // replacements where they are not.
  void SetPath(const WideString& path);
  // The path last given to SetPath while the field still shows it unchanged, so that a
  // path the field cannot show exactly is not lost on its way through; otherwise the
  // field's text. Empty when GTK gives none.
  WideString GetPath() const;

  // Runs a modal folder chooser; a folder chosen with Open replaces the entry's text (the
  // file name as the chooser gives it, through SetPath), any other answer leaves the entry
  // as it was.
  void Browse();

 private:
  friend class WizardTestAccess;

  GtkWidget* picture_;
  GtkWidget* prompt_label_;
  GtkWidget* caption_label_;
  GtkWidget* entry_;
  GtkWidget* browse_button_;
  WideString shown_path_;
  NarrowString shown_text_;
};

#endif  // UI_DIR_SELECT_PAGE_H_
