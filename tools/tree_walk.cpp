#include "tools/tree_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/directory_finder.h"
#include "fs/directory_listing.h"

static NarrowString Joined(const NarrowString& directory, const char* name) {
  NarrowString path = directory;
  if (!path.Empty()) path.Append('/');
  path.Append(name);
  return path;
}

static bool Walk(const NarrowString& root, const NarrowString& relative,
                 std::vector<NarrowString>* files, std::vector<NarrowString>* skipped,
                 NarrowString* failure) {
  const NarrowString directory = relative.Empty() ? root : Joined(root, relative.CStr());
  // The root is taken as given, links and all; below it only real directories are entered.
  const Links links = relative.Empty() ? Links::kFollowed : Links::kNotFollowed;
  std::vector<NarrowString> names;
  if (ListDirectory(directory, &names, links) != kSuccess) {
    *failure =
        NarrowString("cannot read the directory \"") + directory + "\": " + std::strerror(errno);
    return false;
  }
  for (const NarrowString& name : names) {
    const NarrowString child = Joined(relative, name.CStr());
    NodeKind kind = NodeKind::kNothing;
    if (QueryNode(Joined(root, child.CStr()).CStr(), &kind) != kSuccess || IsAbsent(kind)) {
      *failure = NarrowString("cannot query \"") + Joined(root, child.CStr()) +
                 "\": " + std::strerror(errno);
      return false;
    }
    if (kind == NodeKind::kDirectory) {
      if (!Walk(root, child, files, skipped, failure)) return false;
    } else if (kind == NodeKind::kRegularFile) {
      files->push_back(child);
    } else {
      skipped->push_back(child);
    }
  }
  return true;
}

bool CollectRegularFiles(const NarrowString& root, std::vector<NarrowString>* files,
                         std::vector<NarrowString>* skipped, NarrowString* failure) {
  const std::size_t first = files->size();
  if (!Walk(root, NarrowString(), files, skipped, failure)) return false;
  std::sort(files->begin() + first, files->end());
  std::sort(skipped->begin(), skipped->end());
  return true;
}
