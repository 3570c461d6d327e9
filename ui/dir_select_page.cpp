#include "ui/dir_select_page.h"

#include "app/string_table.h"
#include "text/locale_conversions.h"

namespace {

constexpr int kCaptionTop = 255;
constexpr int kEntryTop = 275;
constexpr int kEntryWidth = 280;
constexpr int kEntryHeight = 30;
constexpr int kBrowseLeft = 460;
constexpr int kBrowseSide = 30;

void OnBrowseClicked(GtkWidget* /*button*/, gpointer page) {
  static_cast<DirSelectPage*>(page)->Browse();
}

}  // namespace

DirSelectPage::DirSelectPage(GtkWidget* fixed, GdkPixbuf* picture)
    : WizardDialogPage(fixed),
      picture_(AddPicture(picture)),
      prompt_label_(AddTextLabel()),
      caption_label_(gtk_label_new(nullptr)),
      entry_(gtk_entry_new()),
      browse_button_(gtk_button_new_with_label("...")) {
  SetLabelText(prompt_label_, LoadText(NarrowString("IDS_DESTINATION_PROMPT")));
  SetLabelText(caption_label_, LoadText(NarrowString("IDS_TEMPLATE_CATALOG")));
  Place(caption_label_, kPageTextLeft, kCaptionTop);
  gtk_widget_set_size_request(entry_, kEntryWidth, kEntryHeight);
  Place(entry_, kPageTextLeft, kEntryTop);
  gtk_widget_set_size_request(browse_button_, kBrowseSide, kBrowseSide);
  g_signal_connect(browse_button_, "clicked", G_CALLBACK(OnBrowseClicked), this);
  Place(browse_button_, kBrowseLeft, kEntryTop);
}

void DirSelectPage::SetPath(const WideString& path) {
  shown_path_ = path;
  shown_text_ = ToLocaleBytes(path);
  gtk_entry_set_text(GTK_ENTRY(entry_), shown_text_.CStr());
}

WideString DirSelectPage::GetPath() const {
  const gchar* text = gtk_entry_get_text(GTK_ENTRY(entry_));
  if (text == nullptr) return WideString();
  const NarrowString bytes(text);
  if (bytes == shown_text_) return shown_path_;
  return FromLocaleBytes(bytes);
}

void DirSelectPage::Browse() {
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "gtk-cancel",
      GTK_RESPONSE_CANCEL, "gtk-open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (folder != nullptr) {
      // The chooser gives the folder's bytes as the file system holds them.
      SetPath(FromLocaleBytes(NarrowString(folder)));
      g_free(folder);
    }
  }
  gtk_widget_destroy(chooser);
}
