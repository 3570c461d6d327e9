// MessageBox: the installer's one way of showing a modal message and getting an answer.
//
// The flags are a 32-bit value: the high byte (bits 24-31) chooses the icon (1 error,
// 2 question, anything else none), the low byte (bits 0-7) the buttons (2 Yes and No,
// anything else OK); the middle bytes are ignored. The answer is 1 for Yes, 2 for No, 3 for
// OK and 0 for anything else (the message window closed without an answer).
//
// The text is shown as plain text through a "%s" format, so percent signs and markup
// characters appear as they are. With an owner, the message window's title is the owner's
// GetTitle(). GTK is given both as UTF-8 whatever the locale; its own button labels come in
// the language GTK was prepared for (ui/gtk_language.h).
//
// Without a display (GTK could not be initialised, as in a silent run with no X server) no
// window is made and nobody is asked: the owner's title (when there is one) and then the
// text are written to standard error in the locale's encoding, each on a line of its own,
// and the answer is 0.
//
// User-interface thread only. It needs no main window and may run before the main loop
// does; the message window runs a modal loop of its own until it is answered.

#ifndef UI_MESSAGE_BOX_H_
#define UI_MESSAGE_BOX_H_

#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>

#include "text/narrow_string.h"
#include "text/wide_string.h"
#include "ui/cwnd.h"

using MessageBoxFlags = int32_t;

// The flag values the installer uses.
constexpr MessageBoxFlags kMessageBoxErrorOk = 0x1000001;        // error icon, OK
constexpr MessageBoxFlags kMessageBoxQuestionYesNo = 0x2000002;  // question icon, Yes and No
constexpr MessageBoxFlags kMessageBoxPlainOk = 1;                // no icon, OK

enum MessageBoxResult : int {
  kMessageBoxNoAnswer = 0,
  kMessageBoxYes = 1,
  kMessageBoxNo = 2,
  kMessageBoxOk = 3,
};

// The GTK message type of the icon byte.
GtkMessageType MessageTypeOfFlags(MessageBoxFlags flags);
// The GTK button set of the button byte.
GtkButtonsType ButtonsOfFlags(MessageBoxFlags flags);
// The answer for a GTK dialog response.
int ResultOfResponse(gint response);

// The message as it is written without a display: the caption line (left out when the
// caption is empty), then the text line.
void WriteMessageToStream(std::FILE* stream, const NarrowString& caption,
                          const NarrowString& text);

// Shows text in a modal message window and returns the answer (see above). owner may be
// null.
int MessageBox(const CWnd* owner, const WideString& text, MessageBoxFlags flags);

#endif  // UI_MESSAGE_BOX_H_
