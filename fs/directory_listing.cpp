#include "fs/directory_listing.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "fs/system_error.h"

namespace {

bool IsDotName(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

DirectoryListing::~DirectoryListing() { Close(); }

void DirectoryListing::Close() {
  if (stream_ == nullptr) return;
  // A reason kept for the caller outlives the close.
  const int saved = errno;
  closedir(stream_);
  stream_ = nullptr;
  errno = saved;
}

ErrorCode DirectoryListing::Open(const NarrowString& path, Links links, DotNames dots) {
  return OpenAt(AT_FDCWD, path.CStr(), links, dots);
}

ErrorCode DirectoryListing::OpenAt(int parent, const char* name, Links links, DotNames dots) {
  Close();
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (links == Links::kNotFollowed) flags |= O_NOFOLLOW;
  const int descriptor = openat(parent, name, flags);
  if (descriptor < 0) return ErrorCodeFromErrno(errno);
  stream_ = fdopendir(descriptor);
  if (stream_ == nullptr) {
    const int reason = errno;
    close(descriptor);
    errno = reason;
    return ErrorCodeFromErrno(reason);
  }
  dots_ = dots;
  return kSuccess;
}

ErrorCode DirectoryListing::Next(NarrowString* name, bool* at_end) {
  *at_end = true;
  while (stream_ != nullptr) {
    // readdir reports the end and a failure alike with a null entry; only errno tells them
    // apart, and only when it was cleared before.
    errno = 0;
    const struct dirent64* entry = readdir64(stream_);
    if (entry == nullptr) return errno == 0 ? kSuccess : ErrorCodeFromErrno(errno);
    if (dots_ == DotNames::kLeftOut && IsDotName(entry->d_name)) continue;
    *name = NarrowString(entry->d_name);
    *at_end = false;
    return kSuccess;
  }
  return kSuccess;
}

int DirectoryListing::Descriptor() const { return stream_ == nullptr ? -1 : dirfd(stream_); }

ErrorCode DirectoryListing::ReadAll(std::vector<NarrowString>* names) {
  NarrowString name;
  for (;;) {
    bool at_end = true;
    const ErrorCode code = Next(&name, &at_end);
    if (code != kSuccess || at_end) return code;
    names->push_back(name);
  }
}

ErrorCode ListDirectory(const NarrowString& path, std::vector<NarrowString>* names, Links links) {
  DirectoryListing listing;
  const ErrorCode code = listing.Open(path, links);
  return code != kSuccess ? code : listing.ReadAll(names);
}
