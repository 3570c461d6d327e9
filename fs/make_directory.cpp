#include "fs/make_directory.h"

#include "fs/directory_finder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/locale_conversions.h"
#include "text/narrow_string.h"
#include "text/path_slashes.h"

namespace {

constexpr mode_t kNewDirectoryMode = 0777;
constexpr mode_t kParentOwnerBits = S_IWUSR | S_IXUSR;

// The text before the last "/" of path, with the "/" units right before it dropped too;
// "/" for a path directly below the root. False when path has no "/" (a bare name: its
// parent is the working directory, which exists).
bool ParentOf(const NarrowString& path, NarrowString* parent) {
  NarrowString::size_type slash = path.FindLastOf("/");
  if (slash == NarrowString::npos) return false;
  while (slash > 0 && path[slash - 1] == '/') --slash;
  *parent = slash == 0 ? NarrowString("/") : NarrowString(path, 0, slash);
  return true;
}

// Makes path level by level, each relative to the one before it, as "mkdir -p" does, so
// that a path longer than the system's limit for a whole path is made too when each of its
// names fits. as_parent: the last level is a parent of the directory asked for.
bool MakeLevelsOneByOne(const NarrowString& path, bool as_parent) {
  int directory = open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return false;
  bool made = true;
  const char* const end = path.CStr() + path.Length();
  for (const char* name_start = path.CStr(); made && name_start < end;) {
    const char* name_end = name_start;
    while (name_end < end && *name_end != '/') ++name_end;
    const NarrowString name(name_start,
                            static_cast<NarrowString::size_type>(name_end - name_start));
    while (name_end < end && *name_end == '/') ++name_end;
    const bool last = name_end == end;
    name_start = name_end;
    if (name.Empty()) continue;
    if (mkdirat(directory, name.CStr(), kNewDirectoryMode) == 0) {
      if (!last || as_parent) made = KeepUsableAsParent(directory, name.CStr());
    } else if (errno != EEXIST) {
      made = false;
    }
    if (!made) break;
    // Follows a link, as the existence test for a directory does.
    const int next = openat(directory, name.CStr(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (next < 0) made = false;
    close(directory);
    directory = next;
  }
  if (directory >= 0) close(directory);
  return made;
}

// Makes path (without trailing "/" units) and its missing parents. as_parent: the level is
// a parent of the directory asked for.
bool MakeLevels(const NarrowString& path, bool as_parent) {
  if (mkdir(path.CStr(), kNewDirectoryMode) != 0) {
    if (errno == EEXIST) return IsDirectoryPath(path.CStr());
    if (errno == ENAMETOOLONG) return MakeLevelsOneByOne(path, as_parent);
    if (errno != ENOENT) return false;
    NarrowString parent;
    if (!ParentOf(path, &parent) || parent == path || !MakeLevels(parent, true)) return false;
    if (mkdir(path.CStr(), kNewDirectoryMode) != 0)
      return errno == EEXIST && IsDirectoryPath(path.CStr());
  }
  return !as_parent || KeepUsableAsParent(AT_FDCWD, path.CStr());
}

}  // namespace

bool KeepUsableAsParent(int directory, const char* name) {
  struct stat64 status;
  if (fstatat64(directory, name, &status, 0) != 0) return false;
  if ((status.st_mode & kParentOwnerBits) == kParentOwnerBits) return true;
  return fchmodat(directory, name, (status.st_mode & 07777) | kParentOwnerBits, 0) == 0;
}

ErrorCode MakeDirectoryTree(const WideString& path) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return kErrorNotFound;
  bytes = WithoutTrailingSlashes(bytes);
  if (bytes.Empty()) return kErrorNotFound;
  return MakeLevels(bytes, false) ? kSuccess : kErrorNotFound;
}
