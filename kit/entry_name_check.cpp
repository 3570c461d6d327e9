#include "kit/entry_name_check.h"

#include <cstddef>

#include "text/locale_conversions.h"
#include "text/path_slashes.h"

// The rules on units of either width, with "/" as the only separator.
template <typename Unit>
static const char* UnsafePathReason(const Unit* units, std::size_t length) {
  if (length == 0) return "is empty";
  for (std::size_t i = 0; i < length; ++i) {
    if (units[i] == 0) return "holds a zero unit";
  }
  if (units[0] == '/') return "is absolute (starts with a separator)";
  if (units[length - 1] == '/') return "ends with a separator";
  std::size_t component_start = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i == length || units[i] == '/') {
      if (i - component_start == 2 && units[component_start] == '.' &&
          units[component_start + 1] == '.') {
        return "has a \"..\" component";
      }
      component_start = i + 1;
    }
  }
  return nullptr;
}

const char* UnsafeEntryNameReason(const WideString& name) {
  // The installation reads every "\" as "/" before it converts the path, so a "\" byte that
  // some encodings produce inside a multibyte character is no separator on disk.
  WideString path = name;
  UseForwardSlashes(&path);
  return UnsafeEntryPathReason(path);
}

const char* UnsafeEntryPathReason(const WideString& path) {
  if (const char* reason = UnsafePathReason(path.Data(), path.Length())) return reason;
  NarrowString converted;
  if (!ToLocaleBytesExact(path, &converted)) return "cannot be encoded in the locale's encoding";
  if (UnsafePathReason(converted.Data(), converted.Length()) != nullptr) {
    return "turns into an unsafe path in the locale's encoding";
  }
  return nullptr;
}
