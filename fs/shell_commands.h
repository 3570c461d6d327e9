// Directories are made and files removed by running fixed command lines through the system
// shell (system()), one blocking shell process per call:
//
//   ShellMakeDirectory  mkdir -p "<path>" 2>/dev/null
//   ShellRemoveFile     rm -f "<path>"
//
// Paths are converted with ToLocaleBytesExact and reach the command as literal text: inside
// the double quotes every character the shell would still interpret there (", \, $ and `)
// is preceded by a backslash, so a path such as a"b$(touch X)c names exactly that file and
// runs nothing. Paths come from the user's entry of the target directory and may hold any
// of these characters. A path that cannot be encoded runs no command: the operation fails
// as its command would (2; 1013 for a temporary file, with an empty path).
//
// Status mapping: system() returning -1 (no shell) or a command ended by a signal gives
// kErrorInvalidParameter (87); a non-zero exit status gives the code each operation lists.
//
// The operations share no state and never raise.

#ifndef FS_SHELL_COMMANDS_H_
#define FS_SHELL_COMMANDS_H_

#include "fs/error_codes.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// Makes the directory and its missing parents. 0 also when it exists already;
// kErrorNotFound (2) for any non-zero exit status (such as a path below a regular file);
// 87 when the shell did not run or the command was killed.
ErrorCode ShellMakeDirectory(const WideString& path);

// Removes one file; its messages are not redirected. 0 also when nothing exists at path; 2
// for a non-zero exit status; 87 when the shell did not run or the command was killed.
ErrorCode ShellRemoveFile(const WideString& path);

// Creates a new, empty regular file and hands back its path in *out_path.
//
// The name is made as tempnam makes it (see fs/temp_file.h): the directory is TMPDIR when
// that is set and names an existing directory, else the given directory when it exists,
// else P_tmpdir ("/tmp"); the file name is the prefix cut to 5 bytes (an empty prefix
// becomes "file") followed by 6 random letters and digits. The file is created exclusively
// with mode 0600 and never through an existing file or symbolic link: when something exists
// at the name, a new name is tried, a bounded number of times. No shell runs.
//
// Returns 0, or kErrorCannotWrite (1013) when no name could be made or the file could not be
// created. *out_path is set in every case: the created path, the last name tried, or empty
// when no name could be made.
ErrorCode ShellCreateTempFile(const WideString& directory, const WideString& prefix,
                              WideString* out_path);

// Runs command through the shell unchanged, waits for it and ignores its status.
void ShellRun(const NarrowString& command);

// The bytes of path between double quotes, with ", \, $ and ` escaped by a backslash: one
// literal shell word.
NarrowString QuoteShellPath(const NarrowString& path);

#endif  // FS_SHELL_COMMANDS_H_
