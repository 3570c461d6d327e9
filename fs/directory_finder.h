// DirectoryFinder: lists the entries of one directory that match a simple pattern, one at a
// time (find-first/find-next), with each entry's name and whether it is a directory. Given a
// path without "*" it lists nothing and answers whether the path exists; that is the
// program's one existence test (PathExists below).
//
// Below the finder are the program's other tests of what is at a path, so that none of its
// parts keeps a private copy: whether it is a directory or a regular file (links followed),
// and what kind of node is at the path itself (QueryNode, links not followed), which also
// tells "nothing is there" from "it could not be examined".
//
// Search path = directory part + "/" + pattern, split at the last "/". Only "*" makes a
// search a wildcard search ("?" and "[" alone do not); the pattern is then matched with
// fnmatch and FNM_NOESCAPE, so a backslash is an ordinary character. Entries come in the
// order the system delivers them, unsorted; "." and ".." match "*" like any other name and
// every walker skips them itself.
//
// Status queries follow symbolic links: a link to a directory is reported as a directory,
// and a dangling link fails its query, which ends the walk (FindFirst/FindNext return false).
//
// Paths are converted with ToLocaleBytesExact. No operation reports a code: a path that
// cannot be encoded, a directory that cannot be opened, a pattern error and a failed status
// query all give false, so a search in a directory that cannot be opened looks like a
// search that found nothing.
//
// Lifecycle: idle (no stream) -> searching (a wildcard FindFirst opened the directory) ->
// idle when the stream runs out or the finder is destroyed. Call FindFirst again only when
// idle; walkers use a new finder for every directory. A finder belongs to one thread at a
// time.

#ifndef FS_DIRECTORY_FINDER_H_
#define FS_DIRECTORY_FINDER_H_

#include <sys/stat.h>

#include "fs/directory_listing.h"
#include "fs/error_codes.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// The attribute of an entry whose status mode carries bit 0x4000.
constexpr int kDirectoryAttribute = 0x10;

class DirectoryFinder {
 public:
  DirectoryFinder();
  ~DirectoryFinder();  // Closes the stream if it is still open.
  DirectoryFinder(const DirectoryFinder&) = delete;
  DirectoryFinder& operator=(const DirectoryFinder&) = delete;

  // Starts a search. Wildcard: true when a first matching entry was found and its status
  // query succeeded. Literal: true when the path exists; a path ending in "/" tests the
  // directory itself, and the current name is the part after the last "/".
  bool FindFirst(const WideString& search_path);
  // The next matching entry; false when there is none (the stream is then closed), when
  // fnmatch reports an error, or when the entry's status query fails. Without a stream it
  // returns false.
  bool FindNext();

  // A copy of the name of the entry found last.
  WideString CurrentName() const;
  // kDirectoryAttribute when bit 0x4000 of the last entry's mode is set, else 0. Block
  // devices and sockets carry that bit too and are reported the same way.
  int Attributes() const;

 private:
  WideString current_name_;
  // The directory and the pattern of a wildcard search in the locale's bytes.
  NarrowString directory_bytes_;
  NarrowString pattern_bytes_;
  // Open only while a wildcard search is in progress.
  DirectoryListing listing_;
  struct stat64 status_;
};

// The existence test: true when a status query of path (following symbolic links) succeeds.
// Made as a finder's FindFirst, so path must not contain "*".
bool PathExists(const WideString& path);
// The same test for a path that is bytes already (a "*" in it is an ordinary character).
bool PathExists(const char* path);

// True when path (locale bytes) names a directory, following symbolic links.
bool IsDirectoryPath(const char* path);
// True when path (locale bytes) names a regular file, following symbolic links.
bool IsRegularFilePath(const char* path);

// What is at a path itself: a symbolic link is reported as one, dangling or not.
enum class NodeKind {
  kNothing,       // no such name (ENOENT)
  kPathBlocked,   // something on the way is not a directory (ENOTDIR): nothing can be there
  kDirectory,
  kRegularFile,
  kSymbolicLink,
  kOther,         // a named pipe, a socket or a device
};

// True for the two kinds that mean no node exists at the path.
inline bool IsAbsent(NodeKind kind) {
  return kind == NodeKind::kNothing || kind == NodeKind::kPathBlocked;
}

// The kind of node at path (locale bytes), not following a link it names: 0 with *kind.
// Any other failure of the status query returns its code and leaves *kind as it was. When
// no node was found (a failure, kNothing or kPathBlocked) errno holds the system's reason.
ErrorCode QueryNode(const char* path, NodeKind* kind);

#endif  // FS_DIRECTORY_FINDER_H_
