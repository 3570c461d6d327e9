#include "text/path_slashes.h"

namespace {

template <typename Unit>
void AppendSlashTo(CowString<Unit>* path, bool backslash_too) {
  const typename CowString<Unit>::size_type length = path->Length();
  if (length > 0) {
    const Unit last = (*path)[length - 1];
    if (last == Unit('/') || (backslash_too && last == Unit('\\'))) return;
  }
  path->Append(Unit('/'));
}

}  // namespace

void UseForwardSlashes(WideString* path) {
  path->ReplaceAll(WideString(u"\\"), WideString(u"/"));
}

void AppendSlash(NarrowString* path) { AppendSlashTo(path, false); }
void AppendSlash(WideString* path) { AppendSlashTo(path, false); }
void AppendSlashUnlessSeparator(WideString* path) { AppendSlashTo(path, true); }

void AppendSlash(std::string* path) {
  if (path->empty() || path->back() != '/') path->push_back('/');
}

NarrowString WithoutTrailingSlashes(const NarrowString& path) {
  NarrowString::size_type length = path.Length();
  while (length > 1 && path[length - 1] == '/') --length;
  return NarrowString(path, 0, length);
}

std::string WithoutTrailingSlashes(const std::string& path) {
  std::string::size_type length = path.size();
  while (length > 1 && path[length - 1] == '/') --length;
  return path.substr(0, length);
}
