// The per-user places the installer knows, all derived from the home directory by fixed
// rules, and the writability probe that picks the current template directory. Nothing is
// cached: every call builds its path anew. "/" is the only separator; paths are plain
// concatenations, so CommonStarterConfigDirectory carries a doubled "/" (~/.tavlo5//...),
// which names the same directory as a single one.

#ifndef CONFIG_WELL_KNOWN_LOCATIONS_H_
#define CONFIG_WELL_KNOWN_LOCATIONS_H_

#include "text/wide_string.h"

// What the shell's tilde expansion gives for "~" (normally $HOME), without a trailing "/";
// empty when the expansion fails. Callers that build on it check that it is absolute
// first: an empty or relative home would put every path below at the root or into the
// current directory.
WideString HomeDirectory();

// path with a leading "~" expanded as the shell expands it for the current user: "~" alone
// becomes HomeDirectory(), and "~/rest" becomes HomeDirectory() + "/rest". Any other path,
// "~user/..." included, is returned as it is.
WideString ExpandHomeDirectory(const WideString& path);

// Whether path is absolute (starts with "/").
bool IsAbsolutePath(const WideString& path);

// ~/.tavlo5/ (the argument is not used).
WideString ProductUserDirectory(int unused);
// ~/.tavlo5/Tavlo/tavlo5/ ; the default template directory lies below it.
WideString ProductDataDirectory();
// "tavlo5": the lower-case product prefix and the major version.
WideString ProductShortName();

// ~/.Tavlo/tavlostart and the launcher's settings file in it.
WideString StarterConfigDirectory();
WideString StarterConfigPath();
// ~/.tavlo5//.Tavlo/tavlostart and the common (read-only) settings file in it.
WideString CommonStarterConfigDirectory();
WideString CommonStarterConfigPath();
// ~/.Tavlo/tavlostartt (the launcher directory with its last letter doubled), the
// alternative home of the launcher's settings file.
WideString AltStarterConfigDirectory();
WideString AltStarterConfigPath();

// Whether the templates could be installed into directory: for an existing directory,
// whether this user may create entries in it; for one that does not exist yet, whether it
// could be made, that is whether the nearest ancestor that exists is a directory in which
// this user may create entries. The answer comes from that directory itself, never from the
// temporary directory, so a location under a read-only or missing root is not usable. A
// path that is relative, empty or cannot be encoded is not usable either. The probe is a
// file without a name (O_TMPFILE), which nothing, not even a kill, can leave behind; where
// the file system has no such files, a hidden file ".TavloXXXXXX" made exclusively and
// removed at once, after which the directory gets its times back where the user may set
// them (owner or privileged).
bool ProbeDirectoryWritable(const WideString& directory);

#endif  // CONFIG_WELL_KNOWN_LOCATIONS_H_
