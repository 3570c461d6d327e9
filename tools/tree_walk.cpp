#include "tools/tree_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  DIR* stream = opendir(directory.CStr());
  if (stream == nullptr) {
    *failure =
        NarrowString("cannot read the directory \"") + directory + "\": " + std::strerror(errno);
    return false;
  }
  std::vector<NarrowString> names;
  errno = 0;
  while (dirent64* entry = readdir64(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(NarrowString(entry->d_name));
    }
  }
  const int read_error = errno;
  closedir(stream);
  if (read_error != 0) {
    *failure = NarrowString("cannot read the directory \"") + directory +
               "\": " + std::strerror(read_error);
    return false;
  }
  for (const NarrowString& name : names) {
    const NarrowString child = Joined(relative, name.CStr());
    struct stat64 status;
    if (lstat64(Joined(root, child.CStr()).CStr(), &status) != 0) {
      *failure = NarrowString("cannot query \"") + Joined(root, child.CStr()) +
                 "\": " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(status.st_mode)) {
      if (!Walk(root, child, files, skipped, failure)) return false;
    } else if (S_ISREG(status.st_mode)) {
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
