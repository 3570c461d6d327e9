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

// Whether a file can be created in directory. For an existing directory a probe file with
// the name prefix "Tavlo" is created in that directory itself (exclusively, so nothing
// already there is touched) and removed again. A path that does not name an existing
// directory is answered by whether a probe file can be created in the temporary directory
// (TMPDIR when it names an existing directory, else /tmp), so a directory that does not
// exist yet counts as writable, and a directory whose path cannot be encoded does not.
// Nothing is left behind: the probed directory gets its
// modification time back, where the user may set it (owner or privileged); elsewhere the
// probe shows as a change of the directory's time, which is all it changes.
bool ProbeDirectoryWritable(const WideString& directory);

#endif  // CONFIG_WELL_KNOWN_LOCATIONS_H_
