#include "kit/entry_path.h"

#include "kit/entry_name_check.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

const char* EntryPath::FromName(const WideString& name, EntryPath* path) {
  WideString text = name;
  UseForwardSlashes(&text);
  if (const char* unsafe = UnsafeEntryPathReason(text)) return unsafe;
  path->text_ = text;
  return nullptr;
}

bool EntryPath::ToBytes(NarrowString* bytes) const { return ToLocaleBytesExact(text_, bytes); }
