// Putting new content into the launcher's settings file so that no reader, no kill and no
// full file system leaves it torn, and so that a privileged run never rewrites a file that
// belongs to someone else.
//
// The file at a settings path is the path itself or the file its chain of symbolic links
// ends at. It is written in one of two ways:
//
//   replaced   the content goes to a hidden new file next to it, ".<name>.new-XXXXXXXX",
//              made exclusively, given the old file's owner, group and permission bits,
//              flushed to disk and renamed over the file; the directory is flushed after the
//              rename. A new file left by a killed writer is removed by the next write.
//   in place   where the file has several hard links (a new file would split them), or no
//              new file can be made next to it or be given its owner. The new content is
//              first written whole, with the file's identity and a checksum, to the rewrite
//              copy ".<name>.rewrite" next to the file (or, where the file's directory takes
//              no new file, ".<name>.rewrite" in the home directory), and flushed. Then the
//              room the longer content needs is reserved in the file (fallocate, or the new
//              tail written first and cut away again when it does not fit), so that a full
//              file system stops the rewrite before any old byte is changed. Then the content
//              is copied into the file, the file is cut and flushed, and the copy is removed.
//              A writer killed during the copy leaves the copy, and the next read or write of
//              the settings finishes the copy before anything else; a copy that is not whole
//              (the writer was killed while making it, before the file was touched) is
//              removed.
//
// Ownership: the file is rewritten only for the user it belongs to where a symbolic link
// led to it, and a run with effective user id 0 rewrites only files that belong to root,
// reached only through links that belong to root. Anything else is reported
// (kSettingsNotOwned) and left as it is.

#ifndef CONFIG_SETTINGS_FILE_WRITE_H_
#define CONFIG_SETTINGS_FILE_WRITE_H_

#include <string>

#include "text/narrow_string.h"

// Results of writing a settings file.
enum SettingsWriteResult : int {
  kSettingsWritten = 0,
  // The file could not be opened for writing, created or put in place, or its path is no
  // regular file or cannot be encoded.
  kSettingsCannotOpen = 1,
  // A line could not be encoded (nothing is written then), or the content could not be
  // written or flushed, or the file system has no room for it (the old content is kept).
  kSettingsCannotWrite = 2,
  // The file, or a symbolic link that leads to it, belongs to another user (see above).
  kSettingsNotOwned = 3,
};

// Puts content into the settings file at path (locale bytes), as described above: the file
// need not exist, its directory must. Finishes an interrupted in-place rewrite of that file
// first. On failure *error_number is the system's reason (errno; EPERM for
// kSettingsNotOwned), and the file holds its old content whole.
SettingsWriteResult WriteSettingsFile(const NarrowString& path, const std::string& content,
                                      int* error_number);

// Finishes an in-place rewrite of the file at path that a killed writer left: copies the
// rewrite copy into the file where the copy is whole, belongs to this user and still names
// this very file, and removes it; removes a copy that is not whole. A copy that belongs to
// someone else is left alone. Nothing happens when there is no copy.
void FinishInterruptedSettingsRewrite(const NarrowString& path);

// The first step of an in-place rewrite alone: the rewrite copy of the existing regular file
// at file (no symbolic link) with content, flushed to disk, as a writer killed right after it
// leaves it. Returns kSettingsWritten, or kSettingsCannotWrite with *error_number.
SettingsWriteResult WriteSettingsRewriteCopy(const NarrowString& file, const std::string& content,
                                             int* error_number);

#endif  // CONFIG_SETTINGS_FILE_WRITE_H_
