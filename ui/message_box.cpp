#include "ui/message_box.h"

#include "text/locale_conversions.h"
#include "text/utf8_text.h"

namespace {

constexpr int kIconError = 1;
constexpr int kIconQuestion = 2;
constexpr int kButtonsYesNo = 2;

int IconByte(MessageBoxFlags flags) {
  return static_cast<int>((static_cast<uint32_t>(flags) >> 24) & 0xFFu);
}

int ButtonByte(MessageBoxFlags flags) {
  return static_cast<int>(static_cast<uint32_t>(flags) & 0xFFu);
}

}  // namespace

GtkMessageType MessageTypeOfFlags(MessageBoxFlags flags) {
  switch (IconByte(flags)) {
    case kIconError:
      return GTK_MESSAGE_ERROR;
    case kIconQuestion:
      return GTK_MESSAGE_QUESTION;
    default:
      return GTK_MESSAGE_OTHER;
  }
}

GtkButtonsType ButtonsOfFlags(MessageBoxFlags flags) {
  return ButtonByte(flags) == kButtonsYesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK;
}

int ResultOfResponse(gint response) {
  switch (response) {
    case GTK_RESPONSE_YES:
      return kMessageBoxYes;
    case GTK_RESPONSE_NO:
      return kMessageBoxNo;
    case GTK_RESPONSE_OK:
      return kMessageBoxOk;
    default:
      return kMessageBoxNoAnswer;
  }
}

void WriteMessageToStream(std::FILE* stream, const NarrowString& caption,
                          const NarrowString& text) {
  if (!caption.Empty()) std::fprintf(stream, "%s\n", caption.CStr());
  std::fprintf(stream, "%s\n", text.CStr());
  std::fflush(stream);
}

int MessageBox(const CWnd* owner, const WideString& text, MessageBoxFlags flags) {
  if (gdk_display_get_default() == nullptr) {
    const NarrowString caption =
        owner != nullptr ? ToLocaleBytes(owner->GetTitle()) : NarrowString();
    WriteMessageToStream(stderr, caption, ToLocaleBytes(text));
    return kMessageBoxNoAnswer;
  }
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageTypeOfFlags(flags),
                                             ButtonsOfFlags(flags), "%s", ToUtf8(text).CStr());
  if (owner != nullptr) {
    gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(owner->GetTitle()).CStr());
  }
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return ResultOfResponse(response);
}
