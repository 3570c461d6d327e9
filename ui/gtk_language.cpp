#include "ui/gtk_language.h"

#include <gtk/gtk.h>

#include <cstdlib>

#include "app/string_table.h"
#include "text/narrow_string.h"
#include "text/utf8_text.h"

namespace {

// The gettext catalogue of the language whose texts the program shows for code: a code
// that carries the English texts (such as "ar") is English, and Chinese is simplified.
NarrowString CatalogueOf(const NarrowString& code) {
  const StringTable& table = GetStringTable();
  const auto language = table.find(FindLanguage(code));
  const auto english = table.find(FindLanguage(NarrowString("en")));
  if (language != table.end() && english != table.end() &&
      language->second.texts == english->second.texts) {
    return NarrowString("en");
  }
  if (code == NarrowString("zh")) return NarrowString("zh_CN");
  return code;
}

}  // namespace

bool PrepareGtkLanguage(const WideString& language_code) {
  return setenv("LANGUAGE", CatalogueOf(ToUtf8(language_code)).CStr(), 1) == 0;
}

void UseLeftToRightDirection() { gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR); }
