#include "fs/directory_finder.h"

#include <errno.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstring>

#include "fs/system_error.h"
#include "text/locale_conversions.h"
#include "text/narrow_string.h"

namespace {

constexpr unsigned kDirectoryModeBit = 0x4000;

// The directory part of a search path: the text before its last "/", or the whole path when
// it has none.
WideString DirectoryPart(const WideString& search_path) {
  const WideString::size_type slash = search_path.FindLastOf(u"/");
  if (slash == WideString::npos) return search_path;
  return WideString(search_path, 0, slash);
}

// The pattern of a search path: the text after its last "/", or the whole path.
WideString PatternPart(const WideString& search_path) {
  const WideString::size_type slash = search_path.FindLastOf(u"/");
  if (slash == WideString::npos) return search_path;
  return WideString(search_path, slash + 1);
}

}  // namespace

DirectoryFinder::DirectoryFinder() { std::memset(&status_, 0, sizeof(status_)); }

DirectoryFinder::~DirectoryFinder() = default;

bool DirectoryFinder::FindFirst(const WideString& search_path) {
  // A finder reused before its walk ended must not leak the old stream.
  listing_.Close();
  const WideString pattern = PatternPart(search_path);
  std::memset(&status_, 0, sizeof(status_));

  if (pattern.Find(u"*") == WideString::npos) {
    current_name_ = pattern;
    NarrowString bytes;
    return ToLocaleBytesExact(search_path, &bytes) && stat64(bytes.CStr(), &status_) == 0;
  }

  NarrowString directory;
  if (!ToLocaleBytesExact(DirectoryPart(search_path), &directory) ||
      !ToLocaleBytesExact(pattern, &pattern_bytes_)) {
    return false;
  }
  // The directory part is taken as given, links and all; "." and ".." match "*" too.
  if (listing_.Open(directory, Links::kFollowed, DotNames::kListed) != kSuccess) return false;
  directory_bytes_ = directory;
  return FindNext();
}

bool DirectoryFinder::FindNext() {
  NarrowString name;
  for (;;) {
    // The end of the directory and a failed read both close the stream.
    bool at_end = true;
    if (listing_.Next(&name, &at_end) != kSuccess || at_end) {
      listing_.Close();
      return false;
    }
    const int match = fnmatch(pattern_bytes_.CStr(), name.CStr(), FNM_NOESCAPE);
    if (match == 0) break;
    if (match != FNM_NOMATCH) return false;
  }
  current_name_ = FromLocaleBytes(name);
  // The entry's own bytes, as the system gave them.
  NarrowString entry_path = directory_bytes_;
  entry_path.Append('/');
  entry_path.Append(name);
  return stat64(entry_path.CStr(), &status_) == 0;
}

WideString DirectoryFinder::CurrentName() const { return current_name_; }

int DirectoryFinder::Attributes() const {
  return (status_.st_mode & kDirectoryModeBit) ? kDirectoryAttribute : 0;
}

bool PathExists(const WideString& path) {
  DirectoryFinder finder;
  return finder.FindFirst(path);
}

bool PathExists(const char* path) {
  struct stat64 status;
  return stat64(path, &status) == 0;
}

bool IsDirectoryPath(const char* path) {
  struct stat64 status;
  return stat64(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsRegularFilePath(const char* path) {
  struct stat64 status;
  return stat64(path, &status) == 0 && S_ISREG(status.st_mode);
}

ErrorCode QueryNode(const char* path, NodeKind* kind) {
  struct stat64 status;
  if (lstat64(path, &status) != 0) {
    if (errno == ENOENT) {
      *kind = NodeKind::kNothing;
    } else if (errno == ENOTDIR) {
      *kind = NodeKind::kPathBlocked;
    } else {
      return ErrorCodeFromErrno(errno);
    }
  } else if (S_ISDIR(status.st_mode)) {
    *kind = NodeKind::kDirectory;
  } else if (S_ISREG(status.st_mode)) {
    *kind = NodeKind::kRegularFile;
  } else if (S_ISLNK(status.st_mode)) {
    *kind = NodeKind::kSymbolicLink;
  } else {
    *kind = NodeKind::kOther;
  }
  return kSuccess;
}
