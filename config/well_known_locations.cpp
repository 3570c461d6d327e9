#include "config/well_known_locations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wordexp.h>

#include <cstdlib>

#include "fs/shell_commands.h"
#include "text/locale_conversions.h"

namespace {

constexpr int kProductMajorVersion = 5;

bool IsExistingDirectory(const NarrowString& path, struct stat* st) {
  return stat(path.CStr(), st) == 0 && S_ISDIR(st->st_mode);
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
  if (!ToLocaleBytesExact(directory, &bytes)) return false;
  struct stat before;
  if (!bytes.Empty() && IsExistingDirectory(bytes, &before)) {
    // The probe goes into the directory that is asked about, whatever TMPDIR says.
    NarrowString name = bytes;
    if (name[name.Length() - 1] != '/') name.Append('/');
    name.Append("TavloXXXXXX");
    int fd = mkstemp(name.MutableData());
    if (fd < 0) return false;
    close(fd);
    // Removed by its bytes: a round trip through the locale could name another file.
    unlink(name.CStr());
    // Asking must not look like a change: the directory gets its times back. Only its
    // owner may set them; for anyone else the probe stays visible as a newer time, which
    // does not change the answer, so the result is not examined.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    utimensat(AT_FDCWD, bytes.CStr(), times, 0);
    return true;
  }
  WideString probe;
  if (ShellCreateTempFile(directory, WideString(u"Tavlo"), &probe) != 0) return false;
  ShellRemoveFile(probe);
  return true;
}
