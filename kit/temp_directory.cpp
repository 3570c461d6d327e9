#include "kit/temp_directory.h"

#include <sys/stat.h>

#include <cstdlib>

#include "text/locale_conversions.h"

static bool IsExistingDirectory(const char* path) {
  struct stat64 status;
  return stat64(path, &status) == 0 && S_ISDIR(status.st_mode);
}

WideString GetTempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  WideString directory = FromLocaleBytes(
      NarrowString(tmpdir != nullptr && IsExistingDirectory(tmpdir) ? tmpdir : "/tmp"));
  if (directory.Empty() || directory[directory.Length() - 1] != u'/') directory.Append(u'/');
  return directory;
}
