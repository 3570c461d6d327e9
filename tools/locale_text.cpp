#include "tools/locale_text.h"

#include "text/locale_conversions.h"

bool WideFromLocaleExactly(const NarrowString& bytes, WideString* text) {
  const WideString converted = FromLocaleBytes(bytes);
  if (!(ToLocaleBytes(converted) == bytes)) return false;
  *text = converted;
  return true;
}
