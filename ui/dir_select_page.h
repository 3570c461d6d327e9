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
  // For assistive technology the entry is named and labelled by the caption, and the browse
  // button is named "Choose Directory" (IDS_CHOOSEDIR_TITLE) with the prompt as its
  // description; Enter in the entry activates the window's default button.
  DirSelectPage(GtkWidget* fixed, GdkPixbuf* picture);

  // The caption, the entry and the browse button (as high as the entry) at their places.
  void Arrange(const WizardLayout& layout) override;

  // Writes path into the entry field, replacing its whole text, as PathForEntry shows it.
  void SetPath(const WideString& path);
  // The path last given to SetPath while the field still shows it unchanged, so that a
  // path the field cannot show exactly is not lost on its way through; otherwise the
  // field's text read back with PathFromEntry. Empty when GTK gives none.
  WideString GetPath() const;

  // Runs a modal folder chooser, titled as the window the page is on and opened at the
  // entry's directory or its nearest existing parent; a folder chosen with Open replaces
  // the entry's text (the file name as the chooser gives it, through SetPath), any other
  // answer leaves the entry as it was.
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

// A path as the entry shows it: UTF-8, each byte that did not decode (a surrogate escape)
// written as "\x" and two upper-case hex digits, any other unit that is no character as
// U+FFFD.
NarrowString PathForEntry(const WideString& path);
// The entry's UTF-8 text as a path: "\x" and two hex digits from 80 to FF stand for that
// byte again (a backslash is a separator elsewhere, so no folder name is lost this way).
WideString PathFromEntry(const NarrowString& text);

#endif  // UI_DIR_SELECT_PAGE_H_
