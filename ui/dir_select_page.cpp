#include "ui/dir_select_page.h"

#include <cstdio>

#include "app/string_table.h"
#include "text/locale_conversions.h"
#include "text/utf8_text.h"

namespace {

constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;
constexpr char16_t kEscapeBase = 0xDC00;

void OnBrowseClicked(GtkWidget* /*button*/, gpointer page) {
  static_cast<DirSelectPage*>(page)->Browse();
}

NarrowString TextOf(const char* identifier) { return ToUtf8(LoadText(NarrowString(identifier))); }

int HexValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return -1;
}

// The folder the chooser opens at: the path's nearest existing folder, as the file system
// names it; false for a path that is not absolute or that the locale cannot encode.
bool NearestExistingFolder(const WideString& path, NarrowString* folder) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes) || bytes.Empty() || bytes[0] != '/') return false;
  while (bytes.Length() > 1 && !g_file_test(bytes.CStr(), G_FILE_TEST_IS_DIR)) {
    const NarrowString::size_type slash = bytes.FindLastOf("/");
    bytes = NarrowString(bytes, 0, slash == 0 ? 1 : slash);
  }
  *folder = bytes;
  return true;
}

}  // namespace

NarrowString PathForEntry(const WideString& path) {
  NarrowString shown;
  WideString run;
  for (const char16_t unit : path) {
    if (unit < kEscapeFirst || unit > kEscapeLast) {
      run.Append(unit);
      continue;
    }
    shown.Append(ToUtf8(run));
    run.Clear();
    char escape[5];
    std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<unsigned>(unit - kEscapeBase));
    shown.Append(escape);
  }
  shown.Append(ToUtf8(run));
  return shown;
}

WideString PathFromEntry(const NarrowString& text) {
  const WideString decoded = FromUtf8(text);
  WideString path;
  const WideString::size_type count = decoded.Length();
  for (WideString::size_type i = 0; i < count; ++i) {
    if (decoded[i] == u'\\' && i + 3 < count && decoded[i + 1] == u'x') {
      const int high = HexValue(decoded[i + 2]);
      const int low = HexValue(decoded[i + 3]);
      if (high >= 8 && low >= 0) {
        path.Append(static_cast<char16_t>(kEscapeBase + high * 16 + low));
        i += 3;
        continue;
      }
    }
    path.Append(decoded[i]);
  }
  return path;
}

DirSelectPage::DirSelectPage(GtkWidget* fixed, GdkPixbuf* picture)
    : WizardDialogPage(fixed),
      picture_(AddPicture(picture)),
      prompt_label_(AddTextLabel()),
      caption_label_(gtk_label_new(nullptr)),
      entry_(gtk_entry_new()),
      browse_button_(gtk_button_new_with_label("...")) {
  SetLabelText(prompt_label_, LoadText(NarrowString("IDS_DESTINATION_PROMPT")));
  const NarrowString caption = TextOf("IDS_TEMPLATE_CATALOG");
  gtk_label_set_text(GTK_LABEL(caption_label_), caption.CStr());
  Place(caption_label_, kPageTextLeft, 0);
  Place(entry_, kPageTextLeft, 0);
  g_signal_connect(browse_button_, "clicked", G_CALLBACK(OnBrowseClicked), this);
  Place(browse_button_, 0, 0);
  DirSelectPage::Arrange(DefaultWizardLayout());
  // Enter in the field confirms the directory, as Next does.
  gtk_entry_set_activates_default(GTK_ENTRY(entry_), TRUE);

  AtkObject* caption_object = gtk_widget_get_accessible(caption_label_);
  AtkObject* entry_object = gtk_widget_get_accessible(entry_);
  atk_object_set_name(entry_object, caption.CStr());
  atk_object_add_relationship(caption_object, ATK_RELATION_LABEL_FOR, entry_object);
  atk_object_add_relationship(entry_object, ATK_RELATION_LABELLED_BY, caption_object);
  AtkObject* browse_object = gtk_widget_get_accessible(browse_button_);
  atk_object_set_name(browse_object, TextOf("IDS_CHOOSEDIR_TITLE").CStr());
  atk_object_set_description(browse_object, TextOf("IDS_DESTINATION_PROMPT").CStr());
}

void DirSelectPage::Arrange(const WizardLayout& layout) {
  WizardDialogPage::Arrange(layout);
  GtkFixed* fixed = GTK_FIXED(fixed_);
  gtk_fixed_move(fixed, caption_label_, kPageTextLeft, layout.caption_top);
  gtk_fixed_move(fixed, entry_, kPageTextLeft, layout.entry_top);
  gtk_widget_set_size_request(entry_, layout.entry_width, layout.entry_height);
  gtk_fixed_move(fixed, browse_button_, layout.browse_left, layout.entry_top);
  gtk_widget_set_size_request(browse_button_, layout.browse_width, layout.entry_height);
}

void DirSelectPage::SetPath(const WideString& path) {
  shown_path_ = path;
  shown_text_ = PathForEntry(path);
  gtk_entry_set_text(GTK_ENTRY(entry_), shown_text_.CStr());
}

WideString DirSelectPage::GetPath() const {
  const gchar* text = gtk_entry_get_text(GTK_ENTRY(entry_));
  if (text == nullptr) return WideString();
  const NarrowString bytes(text);
  if (bytes == shown_text_) return shown_path_;
  return PathFromEntry(bytes);
}

void DirSelectPage::Browse() {
  GtkWidget* toplevel = gtk_widget_get_toplevel(fixed_);
  GtkWindow* owner = GTK_IS_WINDOW(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      owner != nullptr ? gtk_window_get_title(owner) : nullptr, owner,
      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "gtk-cancel", GTK_RESPONSE_CANCEL, "gtk-open",
      GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  NarrowString start;
  if (NearestExistingFolder(GetPath(), &start)) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), start.CStr());
  }
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
