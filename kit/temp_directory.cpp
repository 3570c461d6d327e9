#include "kit/temp_directory.h"

#include <cstdlib>

#include "fs/directory_finder.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

WideString GetTempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  WideString directory = FromLocaleBytes(
      NarrowString(tmpdir != nullptr && IsDirectoryPath(tmpdir) ? tmpdir : "/tmp"));
  AppendSlash(&directory);
  return directory;
}
