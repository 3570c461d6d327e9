// Safe creation of temporary files under names made by tempnam's rules.
//
// Name rule (that of the C library's tempnam, written out here so the program neither links
// the deprecated call nor trusts a name that someone could plant in between):
//   directory: the TMPDIR environment variable when it is set (and the process is not
//              privileged, as secure_getenv decides) and names an existing directory; else
//              the given directory when it names an existing directory; else P_tmpdir
//              ("/tmp") when it exists; else no name. Trailing "/" of the directory are
//              dropped and one "/" joins it to the file name.
//   file name: the prefix cut to its first 5 bytes ("file" when it is empty), followed by
//              6 random characters from A-Z, a-z and 0-9.
// A name is handed out only when nothing (not even a dangling link) exists at it at the time
// of the call; that alone guarantees nothing, so files are created exclusively.

#ifndef FS_TEMP_FILE_H_
#define FS_TEMP_FILE_H_

#include <cstddef>
#include <cstdint>

#include "fs/error_codes.h"
#include "text/narrow_string.h"

// How many names CreateTempFile tries before it gives up.
constexpr int kTempFileAttempts = 100;

// Appends count characters from A-Z, a-z and 0-9 to *name, drawn from the kernel's random
// generator (or, should it be unavailable, from the clock, the process id and salt). Names
// made of them are hard to guess, which spares retries; only an exclusive creation makes a
// file at such a name safe.
void AppendRandomNameCharacters(std::size_t count, uint64_t salt, NarrowString* name);

// The directory the name rule chooses for the given directory; false when none exists.
bool ChooseTempDirectory(const NarrowString& directory, NarrowString* chosen);

// A name by the rule above that nothing exists at now; false when no directory can be chosen
// or no free name was found within kTempFileAttempts tries.
bool MakeTempName(const NarrowString& directory, const NarrowString& prefix,
                  NarrowString* name);

// Creates a new empty regular file at path with mode 0600 and closes it again. Never
// follows, opens or reuses whatever already exists at path (a file, a directory or a
// symbolic link, dangling or not). Returns 0, or the errno of the failed creation (EEXIST
// when something exists at path).
int CreateFileExclusively(const NarrowString& path);

// MakeTempName and a creation like CreateFileExclusively's, with a new name whenever it
// finds the name taken (EEXIST), up to kExclusiveNameAttempts names (fs/exclusive_file.h).
// Returns 0 with *path the created file, or kErrorCannotWrite with *path the last name tried
// (empty when no name could be made).
ErrorCode CreateTempFile(const NarrowString& directory, const NarrowString& prefix,
                         NarrowString* path);

// Opens, for reading and writing, a new regular file that has no name: it lives as long as a
// descriptor to it is open, and its blocks are freed when the process ends however it ends,
// so a killed program leaves nothing behind. Made with O_TMPFILE in the directory the name
// rule chooses for directory; where the file system has no such files, created
// exclusively under a name by the rule above and unlinked at once. Returns 0 with
// *descriptor, kErrorDiskFull when the file system has no room for a file, or
// kErrorCannotWrite for any other failure.
ErrorCode CreateAnonymousFile(const NarrowString& directory, const NarrowString& prefix,
                              int* descriptor);

#endif  // FS_TEMP_FILE_H_
