// EntryPath: a kit entry's name as the path below the template directory that it names,
// made once, when the container is read (kit/container_reader.h), and used as it is by the
// installation, the dry run, the extraction and efdtool.
//
// A path is made only from a name that passes the entry name check (kit/entry_name_check.h:
// not empty, no zero unit, not absolute, no trailing separator, no ".." component, encodable
// in the locale's encoding); its text has every "\" of the name read as "/". The name itself
// stays in the kit entry for what is shown of the kit as it is stored.
//
// The bytes are made from the text when they are asked for, in the encoding of the locale
// in force then, and by ToBytes alone: the locale may change between the kit's opening and a
// run (the conversions follow the environment), and a run must write the names its own
// locale gives, and fail on a name that locale cannot encode.

#ifndef KIT_ENTRY_PATH_H_
#define KIT_ENTRY_PATH_H_

#include "text/narrow_string.h"
#include "text/wide_string.h"

class EntryPath {
 public:
  EntryPath() = default;

  // Makes *path from the kit entry name; returns null, or the reason the name must not be
  // installed (UnsafeEntryNameReason), and then *path is left as it was.
  static const char* FromName(const WideString& name, EntryPath* path);

  // The path with "/" separators, relative to the template directory.
  const WideString& Text() const { return text_; }

  // The path in the locale's encoding, "/"-separated; false when the locale in force cannot
  // encode it whole (the one at the kit's opening could).
  bool ToBytes(NarrowString* bytes) const;

 private:
  WideString text_;
};

#endif  // KIT_ENTRY_PATH_H_
