#include "install/relative_path.h"

#include <cstring>

#include "fs/beneath.h"
#include "install/journal_format.h"
#include "text/path_slashes.h"

namespace {

// Calls visit(start, length) for every name of path between "/" separators, empty ones
// included; stops early when visit returns false.
template <typename Visit>
void ForEachName(const NarrowString& path, Visit visit) {
  const char* start = path.Data();
  const char* const end = start + path.Length();
  for (const char* p = start;; ++p) {
    if (p == end || *p == '/') {
      if (!visit(start, static_cast<std::size_t>(p - start))) return;
      if (p == end) return;
      start = p + 1;
    }
  }
}

bool IsName(const char* start, std::size_t length, const char* name) {
  return length == std::strlen(name) && std::memcmp(start, name, length) == 0;
}

}  // namespace

bool IsInWorkFolder(const NarrowString& relative) {
  bool inside = false;
  ForEachName(relative, [&](const char* start, std::size_t length) {
    if (length == 0 || IsName(start, length, ".")) return true;
    inside = IsName(start, length, kWorkFolderName);
    return false;
  });
  return inside;
}

bool IsContainedRelativePath(const NarrowString& relative) {
  if (relative.Empty()) return true;
  if (relative[0] == '/' || std::memchr(relative.Data(), 0, relative.Length()) != nullptr) {
    return false;
  }
  return StaysBeneath(relative.Data(), relative.Length()) && !IsInWorkFolder(relative);
}

NarrowString RelativeParent(const NarrowString& relative) {
  const NarrowString::size_type slash = relative.FindLastOf("/");
  if (slash == NarrowString::npos) return NarrowString();
  return NarrowString(relative, 0, slash);
}

const char* NameOf(const NarrowString& relative) {
  const NarrowString::size_type slash = relative.FindLastOf("/");
  return relative.CStr() + (slash == NarrowString::npos ? 0 : slash + 1);
}

NarrowString JoinPath(const NarrowString& directory, const NarrowString& relative) {
  NarrowString path = directory;
  if (relative.Empty()) return path;
  if (!path.Empty()) AppendSlash(&path);
  path.Append(relative.Data(), relative.Length());
  return path;
}

NarrowString WorkFolderPath(const NarrowString& target) {
  return JoinPath(target, NarrowString(kWorkFolderName));
}

NarrowString BackupPath(const NarrowString& target, const NarrowString& relative) {
  NarrowString backup = JoinPath(WorkFolderPath(target), NarrowString(kBackupFolderName));
  return JoinPath(backup, relative);
}

bool ParentDirectory(const NarrowString& path, NarrowString* parent) {
  const NarrowString::size_type slash = path.FindLastOf("/");
  if (slash == NarrowString::npos || path.Length() == 1) return false;
  *parent = slash == 0 ? NarrowString("/") : NarrowString(path, 0, slash);
  return true;
}
