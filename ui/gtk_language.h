// GTK's own words (the message boxes' buttons, the folder chooser) in the program's language,
// and the one direction of every window.
//
// GTK translates its words with gettext from its "gtk20" catalogue, which follows the
// LANGUAGE variable. Before GTK is initialised, LANGUAGE is made the language of the texts the
// program shows, alone (a code that carries the English texts, such as "ar", as en; zh, whose
// texts are simplified Chinese, as zh_CN), replacing the user's own list,
// which could name another language than the program's: GTK's words then come in the
// program's language where the system has GTK's translation for it, and in English where
// it has none. gettext ignores LANGUAGE under the plain C locale, where GTK stays English.
//
// Every text set reads left to right, so once GTK is initialised the default direction is
// left to right, whatever GTK's translation says: no window or dialog is mirrored.

#ifndef UI_GTK_LANGUAGE_H_
#define UI_GTK_LANGUAGE_H_

#include "text/wide_string.h"

// Sets LANGUAGE for language_code (two letters); before gtk_init. False when the variable
// could not be set (the environment's own languages then stay in force for GTK).
bool PrepareGtkLanguage(const WideString& language_code);
// Makes left to right the default direction of every widget; after gtk_init.
void UseLeftToRightDirection();

#endif  // UI_GTK_LANGUAGE_H_
