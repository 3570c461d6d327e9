#include "config/well_known_locations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wordexp.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "text/locale_conversions.h"
#include "text/path_slashes.h"

namespace {

constexpr int kProductMajorVersion = 5;

// Whether this user may create entries in the existing directory. Asked by creating a file
// without a name there, which a kill cannot leave behind and which changes nothing; where
// the file system has no such files, by a hidden file that is removed at once, after which
// the directory gets its times back.
bool CanCreateIn(const std::string& directory) {
  int fd = open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  struct stat before;
  if (stat(directory.c_str(), &before) != 0) return false;
  std::string name = directory;
  AppendSlash(&name);
  name.append(".TavloXXXXXX");
  fd = mkstemp(&name[0]);
  if (fd < 0) return false;
  close(fd);
  unlink(name.c_str());
  // Asking must not look like a change. Only the directory's owner may set its times; for
  // anyone else the probe stays visible as a newer time, which does not change the answer,
  // so the result is not examined.
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  utimensat(AT_FDCWD, directory.c_str(), times, 0);
  return true;
}

}  // namespace

WideString HomeDirectory() {
  NarrowString tilde("~");
  NarrowString home;
  wordexp_t words;
  int result = wordexp(tilde.CStr(), &words, 0);
  if (result == 0) {
    if (words.we_wordc > 0) home = NarrowString(words.we_wordv[0]);
    wordfree(&words);
  } else if (result == WRDE_NOSPACE) {
    wordfree(&words);
  }
  return FromLocaleBytes(home);
}

bool IsAbsolutePath(const WideString& path) { return !path.Empty() && path[0] == u'/'; }

WideString ExpandHomeDirectory(const WideString& path) {
  if (path.Empty() || path[0] != u'~') return path;
  if (path.Length() > 1 && path[1] != u'/') return path;
  return HomeDirectory() + WideString(path, 1);
}

WideString ProductUserDirectory(int) { return HomeDirectory() + u"/" + u".tavlo5" + u"/"; }

WideString ProductShortName() {
  return WideString(u"tavlo") + WideString::FormatInteger(kProductMajorVersion, 10);
}

WideString ProductDataDirectory() {
  return ProductUserDirectory(0) + u"Tavlo" + u"/" + ProductShortName() + u"/";
}

WideString StarterConfigDirectory() { return HomeDirectory() + u"/" + u".Tavlo/tavlostart"; }
WideString StarterConfigPath() { return StarterConfigDirectory() + u"/" + u"tavlostart.cfg"; }

WideString CommonStarterConfigDirectory() {
  return ProductUserDirectory(0) + u"/" + u".Tavlo/tavlostart";
}
WideString CommonStarterConfigPath() {
  return CommonStarterConfigDirectory() + u"/" + u"tavlostart.cfg";
}

WideString AltStarterConfigDirectory() { return HomeDirectory() + u"/" + u".Tavlo/tavlostartt"; }
WideString AltStarterConfigPath() {
  return AltStarterConfigDirectory() + u"/" + u"tavlostart.cfg";
}

bool ProbeDirectoryWritable(const WideString& directory) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(directory, &bytes) || bytes.Empty() || bytes[0] != '/') return false;
  // The directory itself, or else the nearest ancestor that exists: a directory that is
  // still to be made can be made where that ancestor takes new entries.
  std::string path(bytes.Data(), bytes.Length());
  for (;;) {
    path = WithoutTrailingSlashes(path);
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) && CanCreateIn(path);
    // Something that exists but leads nowhere (a dangling link), or a path that cannot be
    // examined, can never become the directory.
    if (errno != ENOENT || lstat(path.c_str(), &st) == 0) return false;
    const std::size_t slash = path.rfind('/');
    path.erase(slash == 0 ? 1 : slash);
  }
}
