// The handle-based file operations: kit reading, entry extraction and the up-to-date test of
// the installation read and write files through these. An open takes an access mask and a
// creation disposition, counts come back through out-parameters, a seek counts from one of
// three origins, and times are file times (fs/file_time.h); underneath are POSIX descriptors
// with 64-bit offsets on every build.
//
// Results: every operation returns a code of fs/error_codes.h (0 for success), except
// FileSeek (a position). A failing system call gives the code ErrorCodeFromErrno makes of its
// errno: kErrorNotFound (2) for ENOENT, kErrorDiskFull (112) for a full disk or quota and
// kErrorInvalidParameter (87) otherwise; handle -1 gives kErrorInvalidHandle (6) where noted.
//
// Last error: see fs/system_error.h; every operation here except FileClose resets it when it
// starts and sets it when it fails.
//
// Descriptors are opened close-on-exec, so the shell commands and the programs the installer
// starts never inherit an open file of the installer.

#ifndef FS_FILE_HANDLE_H_
#define FS_FILE_HANDLE_H_

#include <cstdint>

#include "fs/error_codes.h"
#include "fs/file_time.h"
#include "fs/system_error.h"
#include "text/wide_string.h"

// A POSIX file descriptor held in a signed 64-bit value; kNoFileHandle means no file is open.
using FileHandle = int64_t;
constexpr FileHandle kNoFileHandle = -1;

// Access mask bits of FileOpen. Without kFileAccessWrite a file is opened read-only,
// whatever else is set.
constexpr uint32_t kFileAccessRead = 0x80000000u;
constexpr uint32_t kFileAccessWrite = 0x40000000u;

// Creation dispositions of FileOpen.
// Creates a missing file; an existing file keeps its contents and length until the caller
// cuts it with FileTruncateHere.
constexpr uint32_t kFileCreateAlways = 2;
// Opens only an existing file; every value other than 2 and 5 behaves like this one.
constexpr uint32_t kFileOpenExisting = 3;
// Opens an existing file and empties it.
constexpr uint32_t kFileTruncateExisting = 5;

// Origins of FileSeek; any value other than 1 and 2 counts from the start.
constexpr uint32_t kFileSeekBegin = 0;
constexpr uint32_t kFileSeekCurrent = 1;
constexpr uint32_t kFileSeekEnd = 2;

// An attribute bit of FileOpen: a symbolic link named by the path's last component is not
// followed, so the open fails (87) on it; kErrorNotFound (2) then means that nothing at all,
// not even a dangling link, exists under the path's name.
constexpr uint32_t kFileFlagOpenReparsePoint = 0x00200000u;

// An attribute bit of FileOpen: the open itself does not wait. A named pipe or a device
// found where a file is expected would otherwise hold the open until someone writes to it.
constexpr uint32_t kFileFlagOpenNonBlocking = 0x40000000u;

// Opens path (converted with ToLocaleBytesExact) with permission bits 0660 before the umask.
// A path that cannot be encoded fails as an invalid parameter (87), as the system call
// would for a name it cannot take.
// access: see kFileAccessRead/kFileAccessWrite; disposition: see the kFile... constants.
// share_mode has no effect (a POSIX open locks nothing), and neither have the attributes
// other than kFileFlagOpenReparsePoint and kFileFlagOpenNonBlocking. *handle is
// written only on success.
ErrorCode FileOpen(const WideString& path, uint32_t access, uint32_t share_mode,
                   uint32_t disposition, FileHandle* handle, uint32_t attributes);

// Moves the position by offset from the origin and returns the new position, or -1 on
// failure (last error 6 for handle -1, else the translated errno).
int64_t FileSeek(FileHandle handle, int64_t offset, uint32_t origin);

// Reads until length bytes arrived or the file ended; *count tells how many arrived, and an
// early end of file is not an error. With count absent: kErrorInvalidParameter when
// overlapped is absent too, else 0 without reading (overlapped is never used for I/O). A
// failed read returns its code with *count holding the bytes read before it.
ErrorCode FileRead(FileHandle handle, void* buffer, uint32_t length, uint32_t* count,
                   void* overlapped);

// Reads at offset without using or moving the handle's position, until length bytes
// arrived or the file ended; *count tells how many arrived (an early end is not an error).
// An interrupted read is resumed. A failed read returns its code with *count holding the
// bytes read before it.
ErrorCode FileReadAt(FileHandle handle, uint64_t offset, void* buffer, uint32_t length,
                     uint32_t* count);

// Copies up to length bytes at *offset of source to destination's position, moving *offset
// and destination's position past them; the source's position is neither used nor moved. The
// kernel copies where it can (copy_file_range(2): nothing passes through this process, and
// file systems that share blocks share them); where it cannot (other file systems, a pipe, a
// file opened for appending) the rest goes through buffer, buffer_bytes (above 0) at a time.
// *count tells how many were copied; fewer than length only where the source ended. A failed
// read or write returns its code, with *count and *offset telling how far the copy came.
ErrorCode FileCopyRange(FileHandle source, uint64_t* offset, FileHandle destination,
                        uint32_t length, unsigned char* buffer, uint32_t buffer_bytes,
                        uint32_t* count);

// One system write of the whole length; *count receives the bytes written. A short write is
// kErrorInvalidParameter, a failed write the translated errno, handle -1 kErrorInvalidHandle.
// The absent-count rules are those of FileRead.
ErrorCode FileWrite(FileHandle handle, const void* buffer, uint32_t length, uint32_t* count,
                    void* overlapped);

// Closes the descriptor. A successful close leaves the last error as it was, so a caller can
// close a file after a failure and still read that failure's code.
ErrorCode FileClose(FileHandle handle);

// Stores the file's status-change time as creation time, its access time and its
// modification time, each only where the out-parameter is present. Handle -1 or a failed
// status query gives kErrorInvalidHandle.
ErrorCode FileGetTimes(FileHandle handle, FileTime* creation, FileTime* access,
                       FileTime* last_write);

// Sets both the access and the modification time of the open file to last_write in whole
// seconds (the fraction is dropped, the sub-second part is 0). creation and access are
// ignored. Handle -1 gives kErrorInvalidHandle; an absent last_write, a time the system's
// time type cannot hold, or a failing system call give kErrorInvalidParameter or the
// translated errno.
ErrorCode FileSetTimes(FileHandle handle, const FileTime* creation, const FileTime* access,
                       const FileTime* last_write);

// Cuts the file at the current position; a regular file that already ends there is not
// touched. Handle -1 gives kErrorInvalidHandle.
ErrorCode FileTruncateHere(FileHandle handle);

#endif  // FS_FILE_HANDLE_H_
