#include "fs/directory_finder.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <cstring>

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

DirectoryFinder::DirectoryFinder() : stream_(nullptr) {
  std::memset(&status_, 0, sizeof(status_));
}

DirectoryFinder::~DirectoryFinder() {
  if (stream_ != nullptr) closedir(stream_);
}

bool DirectoryFinder::FindFirst(const WideString& search_path) {
  // A finder reused before its walk ended must not leak the old stream.
  if (stream_ != nullptr) {
    closedir(stream_);
    stream_ = nullptr;
  }
  search_path_ = search_path;
  pattern_ = PatternPart(search_path);
  std::memset(&status_, 0, sizeof(status_));

  if (pattern_.Find(u"*") == WideString::npos) {
    current_name_ = pattern_;
    NarrowString bytes;
    return ToLocaleBytesExact(search_path_, &bytes) && stat64(bytes.CStr(), &status_) == 0;
  }

  NarrowString directory;
  if (!ToLocaleBytesExact(DirectoryPart(search_path_), &directory) ||
      !ToLocaleBytesExact(pattern_, &pattern_bytes_)) {
    return false;
  }
  stream_ = opendir(directory.CStr());
  if (stream_ == nullptr) return false;
  directory_bytes_ = directory;
  return FindNext();
}

bool DirectoryFinder::FindNext() {
  if (stream_ == nullptr) return false;
  const struct dirent64* entry;
  for (;;) {
    entry = readdir64(stream_);
    if (entry == nullptr) {
      closedir(stream_);
      stream_ = nullptr;
      return false;
    }
    const int match = fnmatch(pattern_bytes_.CStr(), entry->d_name, FNM_NOESCAPE);
    if (match == 0) break;
    if (match != FNM_NOMATCH) return false;
  }
  const NarrowString name(entry->d_name);
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

bool IsDirectoryPath(const char* path) {
  struct stat64 status;
  return stat64(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool PathExists(const WideString& path) {
  DirectoryFinder finder;
  return finder.FindFirst(path);
}
