#include "install/path_parts.h"

#include <errno.h>

#include "text/locale_conversions.h"

bool IsRootPath(const WideString& path) { return path.Length() == 1 && path[0] == u'/'; }

bool ParentPath(const WideString& path, WideString* parent) {
  const WideString::size_type slash = path.FindLastOf(u"/");
  if (slash == WideString::npos) return false;
  *parent = WideString(path, 0, slash);
  return true;
}

bool IsDriveParent(const WideString& parent) {
  return parent.Length() == 2 && parent[1] == u':';
}

WideString WithoutTrailingSlash(const WideString& path) {
  WideString::size_type length = path.Length();
  while (length > 1 && path[length - 1] == u'/') --length;
  return WideString(path, 0, length);
}

int NodeStatus(const WideString& path, struct stat64* status) {
  return lstat64(ToLocaleBytes(path).CStr(), status) == 0 ? 0 : errno;
}

bool NothingExistsAt(const WideString& path) {
  struct stat64 status;
  const int error = NodeStatus(path, &status);
  return error == ENOENT || error == ENOTDIR;
}
