#include "fs/remove_tree.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "fs/directory_finder.h"
#include "fs/directory_listing.h"
#include "fs/system_error.h"

namespace {

// Keeps the first failure of a walk.
void Note(ErrorCode code, ErrorCode* first) {
  if (code != kSuccess && *first == kSuccess) *first = code;
}

// Removes every entry of the directory open in listing.
void EmptyDirectory(DirectoryListing* listing, ErrorCode* first) {
  // The names are read first: removing entries while the stream is read may skip some.
  std::vector<NarrowString> names;
  Note(listing->ReadAll(&names), first);
  const int directory = listing->Descriptor();
  for (const NarrowString& entry : names) {
    if (unlinkat(directory, entry.CStr(), 0) == 0) continue;
    if (errno == ENOENT) continue;
    if (errno != EISDIR && errno != EPERM) {
      Note(ErrorCodeFromErrno(errno), first);
      continue;
    }
    DirectoryListing child;
    const ErrorCode code = child.OpenAt(directory, entry.CStr());
    if (code != kSuccess) {
      Note(code, first);
      continue;
    }
    EmptyDirectory(&child, first);
    child.Close();
    if (unlinkat(directory, entry.CStr(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      Note(ErrorCodeFromErrno(errno), first);
    }
  }
}

}  // namespace

ErrorCode RemoveTree(const NarrowString& path) {
  if (path.Empty()) return kSuccess;
  NodeKind kind = NodeKind::kNothing;
  const ErrorCode queried = QueryNode(path.CStr(), &kind);
  if (queried != kSuccess) return queried;
  if (IsAbsent(kind)) return kSuccess;
  if (kind != NodeKind::kDirectory) {
    if (unlink(path.CStr()) != 0 && errno != ENOENT) return ErrorCodeFromErrno(errno);
    return kSuccess;
  }
  ErrorCode first = kSuccess;
  DirectoryListing listing;
  const ErrorCode opened = listing.Open(path);
  if (opened != kSuccess) {
    Note(opened, &first);
  } else {
    EmptyDirectory(&listing, &first);
    listing.Close();
  }
  if (rmdir(path.CStr()) != 0 && errno != ENOENT) Note(ErrorCodeFromErrno(errno), &first);
  return first;
}

ErrorCode RemoveTreeAt(int parent, const char* name) {
  if (unlinkat(parent, name, 0) == 0 || errno == ENOENT) return kSuccess;
  if (errno != EISDIR && errno != EPERM) return ErrorCodeFromErrno(errno);
  ErrorCode first = kSuccess;
  DirectoryListing listing;
  const ErrorCode opened = listing.OpenAt(parent, name);
  if (opened != kSuccess) {
    Note(opened, &first);
  } else {
    EmptyDirectory(&listing, &first);
    listing.Close();
  }
  if (unlinkat(parent, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
    Note(ErrorCodeFromErrno(errno), &first);
  }
  return first;
}
