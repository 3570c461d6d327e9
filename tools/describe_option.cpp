#include "tools/describe_option.h"

#include "tools/locale_text.h"

bool ParseDescribeOption(const NarrowString& text, KitInfo* info, NarrowString* failure) {
  static const char* const kParts[] = {"LANG", "PRODUCT", "VENDOR", "DOCUMENT"};
  WideString* const targets[] = {&info->language, &info->product, &info->vendor,
                                 &info->description};
  NarrowString::size_type start = 0;
  for (int part = 0; part < 4; ++part) {
    NarrowString::size_type end = text.Length();
    if (part < 3) {
      end = text.Find(":", start);
      if (end == NarrowString::npos) {
        *failure = NarrowString("\"") + text + "\" is not LANG:PRODUCT:VENDOR:DOCUMENT";
        return false;
      }
    }
    if (!WideFromLocaleExactly(NarrowString(text, start, end - start), targets[part])) {
      *failure = NarrowString("the ") + kParts[part] + " of \"" + text +
                 "\" is not valid text in the locale's encoding";
      return false;
    }
    start = end + 1;
  }
  return true;
}
