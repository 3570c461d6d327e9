#include "ui/gtk_language.h"

#include <gtk/gtk.h>

#include <cstdlib>

#include "text/narrow_string.h"
#include "text/utf8_text.h"

bool PrepareGtkLanguage(const WideString& language_code) {
  NarrowString catalogue = ToUtf8(language_code);
  if (catalogue == NarrowString("zh")) catalogue = NarrowString("zh_CN");
  return setenv("LANGUAGE", catalogue.CStr(), 1) == 0;
}

void UseLeftToRightDirection() { gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR); }
