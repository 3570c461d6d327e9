#include "fs/make_directory.h"

#include <errno.h>
#include <sys/stat.h>

#include <string>

#include "text/locale_conversions.h"

namespace {

constexpr mode_t kNewDirectoryMode = 0777;
constexpr mode_t kParentOwnerBits = S_IWUSR | S_IXUSR;

// True when path names a directory, following symbolic links as "mkdir -p" does.
bool IsDirectory(const std::string& path) {
  struct stat64 status;
  return stat64(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The text before the last "/" of path, with the "/" units before it dropped too; "/" for
// a path directly below the root. False when path has no "/" (a bare name: its parent is
// the working directory, which exists).
bool ParentOf(const std::string& path, std::string* parent) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return false;
  while (slash > 0 && path[slash - 1] == '/') --slash;
  *parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  return true;
}

// Makes path, whose trailing "/" units are gone, and its missing parents; as_parent: the
// level is a parent of the directory asked for.
bool MakeLevels(const std::string& path, bool as_parent) {
  if (mkdir(path.c_str(), kNewDirectoryMode) != 0) {
    if (errno == EEXIST) return IsDirectory(path);
    if (errno != ENOENT) return false;
    std::string parent;
    if (!ParentOf(path, &parent) || parent == path || !MakeLevels(parent, true)) return false;
    if (mkdir(path.c_str(), kNewDirectoryMode) != 0) {
      return errno == EEXIST && IsDirectory(path);
    }
  }
  if (as_parent) {
    // A umask that takes the owner's write or search bit would leave a parent no level
    // below it can be made in.
    struct stat64 status;
    if (stat64(path.c_str(), &status) != 0) return false;
    if ((status.st_mode & kParentOwnerBits) != kParentOwnerBits &&
        chmod(path.c_str(), (status.st_mode & 07777) | kParentOwnerBits) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

ErrorCode MakeDirectoryTree(const WideString& path) {
  const NarrowString bytes = ToLocaleBytes(path);
  std::string text(bytes.CStr(), bytes.Length());
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (text.empty()) return kErrorNotFound;
  return MakeLevels(text, false) ? kSuccess : kErrorNotFound;
}
