#include "install/tree_listing.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "fs/file_layer.h"
#include "text/locale_conversions.h"
#include "text/narrow_string.h"

ErrorCode ListDirectoryEntries(const WideString& directory, std::vector<TreeEntry>* entries) {
  entries->clear();
  NarrowString base = ToLocaleBytes(directory);
  DIR* stream = opendir(base.CStr());
  if (stream == nullptr) return ErrorCodeFromErrno(errno);
  if (base.Empty() || base[base.Length() - 1] != '/') base.Append('/');
  // readdir64 ends both at the end and on a read error; only errno tells them apart, and a
  // listing cut short must not pass for the whole directory (a rollback would then delete
  // a backup that still holds files).
  for (;;) {
    errno = 0;
    const struct dirent64* entry = readdir64(stream);
    if (entry == nullptr) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    NarrowString entry_path = base;
    entry_path.Append(entry->d_name);
    struct stat64 status;
    const bool is_directory = lstat64(entry_path.CStr(), &status) == 0 && S_ISDIR(status.st_mode);
    entries->push_back(TreeEntry{FromLocaleBytes(NarrowString(entry->d_name)), is_directory});
  }
  const int read_error = errno;
  closedir(stream);
  return read_error == 0 ? kSuccess : ErrorCodeFromErrno(read_error);
}
