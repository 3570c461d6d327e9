// A file written under a temporary name in the folder of its final name and renamed over
// that name only once it is complete: a reader, and a run after a kill, sees the old file or
// the whole new one, never a part. The rename replaces whatever holds the name (a file, a
// symbolic link) instead of writing through it. A temporary that does not take the name is
// removed again, so a failure leaves nothing behind.

#ifndef FS_REPLACE_FILE_H_
#define FS_REPLACE_FILE_H_

// What is on the disk once the file has its name.
enum class ReplaceDurability {
  // Nothing is synced: files that whoever made them can make again.
  kNone,
  // The data is synced before the file takes the name, and the folder's entries after the
  // rename, so that after a power loss the name holds the old file or the whole new one. A
  // file system that cannot sync a folder (EINVAL) keeps its entries with the files' data.
  kDataThenFolder,
};

// The step of a replacement that failed.
enum class ReplaceStep {
  kDone,
  // The sync or the close of the temporary (a close can report a delayed write failure).
  kWrite,
  kRename,
  // The sync after the rename: the new file has its name, but it may not survive a power loss.
  kSync,
};

// Ends the writing of the temporary temp_name in folder, open as descriptor: syncs it as
// durability asks, closes descriptor, renames temp_name over name in the same folder and
// syncs the folder. Returns kDone, or the step that failed with *error_number its errno.
// descriptor is closed in every case.
ReplaceStep PutInPlace(int folder, int descriptor, const char* temp_name, const char* name,
                       ReplaceDurability durability, int* error_number);

// For a temporary that was written and closed already (a copy from another file system,
// whose journal keeps no order with this one's): temp_name and the folder's entries are
// synced (SyncEntry of fs/beneath.h) before the rename, and name and the folder's entries
// again after it. Returns as PutInPlace.
ReplaceStep PutCopyInPlace(int folder, const char* temp_name, const char* name,
                           int* error_number);

#endif  // FS_REPLACE_FILE_H_
