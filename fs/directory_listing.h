// DirectoryListing: the names in one directory, read one at a time; the program's one reader
// of directory streams (DirectoryFinder, the tree removal, the rollback, the recovery of a
// killed run and efdtool's tree walk all list through it).
//
// A read error is never taken for the end of the directory: every read starts with errno
// cleared and looks at it when no entry comes, so a listing that was cut short says so and
// a caller does not act on part of a directory as if it were all of it.
//
// Names come in the order the system delivers them, unsorted, as the system's bytes; "." and
// ".." are left out unless the caller asks for them (DirectoryFinder, whose wildcard search
// delivers them). A symbolic link named as the directory is not followed unless the caller
// asks: the open fails on it. A directory can be opened relative to one already open
// (OpenAt), so a walk from directory to directory names each by its parent's descriptor and
// a link swapped in on the way is refused, not entered.
//
// Codes: 0, or the translated errno of the call that failed (fs/system_error.h). After a
// failure errno still holds the system's reason, for a message to a person.
//
// A listing belongs to one thread at a time; destroying it closes the directory.

#ifndef FS_DIRECTORY_LISTING_H_
#define FS_DIRECTORY_LISTING_H_

#include <dirent.h>
#include <fcntl.h>

#include <vector>

#include "fs/error_codes.h"
#include "text/narrow_string.h"

// Whether a symbolic link named as the directory to open is followed.
enum class Links { kNotFollowed, kFollowed };
// Whether the names "." and ".." are listed.
enum class DotNames { kLeftOut, kListed };

class DirectoryListing {
 public:
  DirectoryListing() = default;
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Opens the directory at path (bytes), closing one still open. Fails on anything that is
  // not a directory, and on a symbolic link unless links is kFollowed.
  ErrorCode Open(const NarrowString& path, Links links = Links::kNotFollowed,
                 DotNames dots = DotNames::kLeftOut);
  // The same for name inside the directory open as parent (a descriptor, or AT_FDCWD).
  ErrorCode OpenAt(int parent, const char* name, Links links = Links::kNotFollowed,
                   DotNames dots = DotNames::kLeftOut);

  // The next name. 0 with *at_end false: *name holds it. 0 with *at_end true: the directory
  // has no more names. Another code: the read failed. The directory stays open either way,
  // so its descriptor can still be used for the names read; without an open directory the
  // answer is the end.
  ErrorCode Next(NarrowString* name, bool* at_end);
  // Appends every name not read yet to *names: 0, or the code of the failed read (the names
  // read before it stay appended).
  ErrorCode ReadAll(std::vector<NarrowString>* names);

  // The open directory's descriptor, for calls relative to it (openat, unlinkat); -1 when
  // none is open. It stays the listing's: it is closed with the listing.
  int Descriptor() const;
  void Close();

 private:
  DIR* stream_ = nullptr;
  DotNames dots_ = DotNames::kLeftOut;
};

// Every name of the directory at path, "." and ".." left out, appended to *names. 0, or the
// code of the failing open (nothing appended) or read (the names read before it stay).
ErrorCode ListDirectory(const NarrowString& path, std::vector<NarrowString>* names,
                        Links links = Links::kNotFollowed);

#endif  // FS_DIRECTORY_LISTING_H_
