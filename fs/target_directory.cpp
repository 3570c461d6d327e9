#include "fs/target_directory.h"

#include "text/locale_conversions.h"
#include "text/path_slashes.h"

TargetDirectory::TargetDirectory() : problem_(kErrorPathNotFound) {}

TargetDirectory::TargetDirectory(const WideString& path) : text_(path) {
  if (!text_.Empty()) AppendSlashUnlessSeparator(&text_);
  NarrowString bytes;
  if (!ToLocaleBytesExact(text_, &bytes)) {
    problem_ = kErrorInvalidParameter;
  } else if (!IsAbsolute()) {
    problem_ = kErrorPathNotFound;
  } else {
    // A text that ends in "\" names a directory whose name ends so: the "/" the run joins
    // names with comes after it.
    AppendSlash(&bytes);
    bytes_ = bytes;
    problem_ = kSuccess;
  }
}
