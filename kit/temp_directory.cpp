#include "kit/temp_directory.h"

#include <cstdlib>

#include "fs/directory_finder.h"
#include "text/locale_conversions.h"

WideString GetTempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  WideString directory = FromLocaleBytes(
      NarrowString(tmpdir != nullptr && IsDirectoryPath(tmpdir) ? tmpdir : "/tmp"));
  if (directory.Empty() || directory[directory.Length() - 1] != u'/') directory.Append(u'/');
  return directory;
}
