// Names inside a directory that is held open: the installation opens its template directory
// once and reaches everything in it through that descriptor, one name at a time, so that a
// symbolic link on the way (planted in the directory, or swapped in for a folder while a run
// works) is never followed. A link is refused where a folder is expected: the call fails with
// ELOOP or ENOTDIR, as it would for a name that is not a folder.
//
// Paths are bytes relative to the root, "/"-separated; empty names and "." are skipped, and a
// ".." name is refused (EINVAL): nothing reached this way lies outside the root. The empty
// path is the root itself.
//
// These calls are the one place where the installation walks a relative path; errno is
// kept for the caller, which turns it into a code where it reads it.

#ifndef FS_BENEATH_H_
#define FS_BENEATH_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "text/narrow_string.h"

// The device and inode of a file or folder, and a file's size and time: what an installation records
// of what it made, so that it later removes a name only while the name still holds that very
// thing.
struct NodeIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  // The modification time: a file the user changed in place since has another one.
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;

  bool SameNode(const NodeIdentity& other) const {
    return device == other.device && inode == other.inode;
  }
  // The same node, unchanged since: same size and time too.
  bool SameFile(const NodeIdentity& other) const {
    return SameNode(other) && size == other.size && seconds == other.seconds &&
           nanoseconds == other.nanoseconds;
  }
};

// A descriptor that closes itself.
class ScopedDescriptor {
 public:
  explicit ScopedDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~ScopedDescriptor();
  ScopedDescriptor(const ScopedDescriptor&) = delete;
  ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
  int get() const { return descriptor_; }
  bool ok() const { return descriptor_ >= 0; }

 private:
  int descriptor_;
};

// Whether relative ("/"-separated bytes) stays beneath the folder it is taken from, by its
// names alone: it has no ".." name. The walks below refuse (EINVAL) every path this refuses,
// before they open anything.
bool StaysBeneath(const char* relative, std::size_t length);

// Opens the directory path (given whole, its last name not followed) for the descriptor
// walks below: O_RDONLY | O_DIRECTORY | O_NOFOLLOW. -1 with errno on failure.
int OpenRootDirectory(const char* path);

// Opens the folder at relative beneath root, walking name by name with O_NOFOLLOW. flags:
// extra open flags for the last folder (O_PATH for a folder only used as a base of *at
// calls; 0 for one that is listed, locked or synced). -1 with errno on failure. The empty
// path opens the root again.
int OpenFolderBeneath(int root, const NarrowString& relative, int flags);

// Opens the folder that holds relative (the root for a name without "/"), as
// OpenFolderBeneath with O_PATH; *name then points at relative's last name.
int OpenParentBeneath(int root, const NarrowString& relative, const char** name);

// The identity of name in folder (not followed). False with errno when it cannot be read.
bool IdentityAt(int folder, const char* name, NodeIdentity* identity, mode_t* mode = nullptr);
// The identity of an open descriptor.
bool IdentityOf(int descriptor, NodeIdentity* identity, mode_t* mode = nullptr);

// Makes the file name in folder and the folder's entries durable (fsync of both): for a
// copy onto another file system, whose journal keeps no order with this one's. False with
// errno on failure.
bool SyncEntry(int folder, const char* name);

// Renames from_name in from_folder to to_name in to_folder unless something is at to_name:
// EEXIST then. Where the file system cannot refuse atomically (no RENAME_NOREPLACE), a name
// looked at just before is refused the same way, and the rename is plain.
bool RenameNoReplace(int from_folder, const char* from_name, int to_folder, const char* to_name);

// A path that names name inside the folder open as folder through /proc/self/fd, for calls
// that take only paths (a copy across file systems): the folder is the one held open, not
// whatever its name names now.
NarrowString DescriptorPath(int folder, const char* name);

#endif  // FS_BENEATH_H_
