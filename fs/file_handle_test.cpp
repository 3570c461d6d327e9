#include "fs/file_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/locale_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"

namespace {

constexpr uint32_t kReadWrite = kFileAccessRead | kFileAccessWrite;

// Opens path and fails the test when that does not work.
FileHandle OpenOrFail(const WideString& path, uint32_t access, uint32_t disposition) {
  FileHandle handle = kNoFileHandle;
  EXPECT_EQ(kSuccess, FileOpen(path, access, 0, disposition, &handle, 0));
  return handle;
}

off_t SizeOf(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return -1;
  return status.st_size;
}

TEST(FileHandleTest, CreateAlwaysKeepsContentsUntilTruncated) {
  ScratchDirectory scratch;
  const std::string hundred(100, 'x');
  ASSERT_TRUE(WriteWholeFile(scratch.Child("cut"), hundred));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("kept"), hundred));

  for (const char* name : {"cut", "kept"}) {
    const FileHandle handle = OpenOrFail(scratch.Wide(name), kFileAccessWrite, kFileCreateAlways);
    uint32_t count = 0;
    EXPECT_EQ(kSuccess, FileWrite(handle, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(10u, count);
    if (std::string(name) == "cut") {
      EXPECT_EQ(kSuccess, FileTruncateHere(handle));
    }
    EXPECT_EQ(kSuccess, FileClose(handle));
  }
  EXPECT_EQ("0123456789", ReadWholeFile(scratch.Child("cut")));
  EXPECT_EQ("0123456789" + std::string(90, 'x'), ReadWholeFile(scratch.Child("kept")));
}

// A file that already ends at the position is not truncated: a truncation would stamp it
// with the current time.
TEST(FileHandleTest, TruncatingAtTheEndLeavesTheFileAlone) {
  ScratchDirectory scratch;
  const std::string path = scratch.Child("exact");
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  const struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), old_times, 0));

  const FileHandle handle = OpenOrFail(scratch.Wide("exact"), kFileAccessWrite, kFileCreateAlways);
  EXPECT_EQ(10, FileSeek(handle, 0, kFileSeekEnd));
  EXPECT_EQ(kSuccess, FileTruncateHere(handle));
  struct stat at_end;
  ASSERT_EQ(0, stat(path.c_str(), &at_end));
  EXPECT_EQ(1000000000, at_end.st_mtim.tv_sec) << "a truncation at the end stamped the file";
  EXPECT_EQ(10, at_end.st_size);

  EXPECT_EQ(4, FileSeek(handle, 4, kFileSeekBegin));
  EXPECT_EQ(kSuccess, FileTruncateHere(handle));
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ("0123", ReadWholeFile(path));
}

// With kFileFlagOpenReparsePoint, "not found" must mean that nothing exists under the name:
// the installation then skips its own check for something to back up.
TEST(FileHandleTest, OpenWithoutFollowingTellsAMissingNameFromALink) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("file"), "x"));
  ASSERT_EQ(0, symlink("file", scratch.Child("link").c_str()));
  ASSERT_EQ(0, symlink("nowhere", scratch.Child("dangling").c_str()));
  const uint32_t attributes = 0x80 | kFileFlagOpenReparsePoint;
  const auto open = [&](const char* name) {
    FileHandle handle = kNoFileHandle;
    const ErrorCode code =
        FileOpen(scratch.Wide(name), kFileAccessRead, 0, kFileOpenExisting, &handle, attributes);
    if (code == kSuccess) FileClose(handle);
    return code;
  };
  EXPECT_EQ(kSuccess, open("file"));
  EXPECT_EQ(kErrorInvalidParameter, open("link"));
  EXPECT_EQ(kErrorInvalidParameter, open("dangling"));
  EXPECT_EQ(kErrorNotFound, open("missing"));
  EXPECT_EQ(kErrorNotFound, open("nodir/missing"));
  // Without the flag a link is followed as before.
  FileHandle handle = kNoFileHandle;
  EXPECT_EQ(kSuccess,
            FileOpen(scratch.Wide("link"), kFileAccessRead, 0, kFileOpenExisting, &handle, 0x80));
  EXPECT_EQ(kSuccess, FileClose(handle));
}

TEST(FileHandleTest, CreateAlwaysMakesAMissingFileWithGroupPermissions) {
  ScratchDirectory scratch;
  const mode_t old_mask = umask(0);
  FileHandle handle = OpenOrFail(scratch.Wide("new"), kFileAccessWrite, kFileCreateAlways);
  umask(old_mask);
  EXPECT_EQ(kSuccess, FileClose(handle));
  struct stat status;
  ASSERT_EQ(0, stat(scratch.Child("new").c_str(), &status));
  EXPECT_EQ(0660u, status.st_mode & 0777u);
}

TEST(FileHandleTest, TruncateExistingEmptiesTheFile) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f"), "contents"));
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kReadWrite, kFileTruncateExisting);
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ(0, SizeOf(scratch.Child("f")));
}

TEST(FileHandleTest, MissingFileGivesNotFoundAndLeavesHandle) {
  ScratchDirectory scratch;
  FileHandle handle = 12345;
  EXPECT_EQ(kErrorNotFound,
            FileOpen(scratch.Wide("absent"), kFileAccessRead, 0, kFileOpenExisting, &handle, 0));
  EXPECT_EQ(12345, handle);
  EXPECT_EQ(kErrorNotFound, LastErrorCode());
  // Open-existing never creates.
  EXPECT_EQ(-1, SizeOf(scratch.Child("absent")));
}

TEST(FileHandleTest, OtherOpenFailuresGiveInvalidParameter) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("plain"), "x"));
  FileHandle handle = kNoFileHandle;
  // A path through a regular file fails with ENOTDIR, whoever runs the test.
  EXPECT_EQ(kErrorInvalidParameter, FileOpen(scratch.Wide("plain/inner"), kFileAccessRead, 0,
                                             kFileOpenExisting, &handle, 0));
  EXPECT_EQ(kNoFileHandle, handle);
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
}

TEST(FileHandleTest, UnreadableDirectoryGivesInvalidParameter) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "running as root: permission bits do not stop root";
  }
  ScratchDirectory scratch;
  ASSERT_EQ(0, mkdir(scratch.Child("locked").c_str(), 0700));
  ASSERT_TRUE(WriteWholeFile(scratch.Child("locked/f"), "x"));
  ASSERT_EQ(0, chmod(scratch.Child("locked").c_str(), 0));
  FileHandle handle = kNoFileHandle;
  EXPECT_EQ(kErrorInvalidParameter, FileOpen(scratch.Wide("locked/f"), kFileAccessRead, 0,
                                             kFileOpenExisting, &handle, 0));
  EXPECT_EQ(kNoFileHandle, handle);
}

TEST(FileHandleTest, ReadPastEndCountsWhatArrived) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f"), std::string(300, 'r')));
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kFileAccessRead, kFileOpenExisting);
  std::vector<char> buffer(1048576);
  uint32_t count = 77;
  EXPECT_EQ(kSuccess, FileRead(handle, buffer.data(), 1048576, &count, nullptr));
  EXPECT_EQ(300u, count);
  EXPECT_EQ(std::string(300, 'r'), std::string(buffer.data(), count));
  count = 77;
  EXPECT_EQ(kSuccess, FileRead(handle, buffer.data(), 1048576, &count, nullptr));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(kSuccess, LastErrorCode());
  EXPECT_EQ(kSuccess, FileClose(handle));
}

TEST(FileHandleTest, ReadsAndCopiesAtAnOffsetLeaveThePositionAlone) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("source"), std::string("0123456789")));
  const FileHandle source = OpenOrFail(scratch.Wide("source"), kFileAccessRead, kFileOpenExisting);
  ASSERT_EQ(FileSeek(source, 2, kFileSeekBegin), 2);
  char bytes[8] = {};
  uint32_t count = 0;
  EXPECT_EQ(kSuccess, FileReadAt(source, 6, bytes, sizeof bytes, &count));
  EXPECT_EQ(std::string(bytes, count), "6789");

  const FileHandle copy = OpenOrFail(scratch.Wide("copy"), kFileAccessWrite, kFileCreateAlways);
  ASSERT_EQ(kSuccess, FileWrite(copy, "ab", 2, &count, nullptr));
  unsigned char buffer[3];
  uint64_t offset = 3;
  EXPECT_EQ(kSuccess, FileCopyRange(source, &offset, copy, 100, buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 7u);  // fewer only where the source ends
  EXPECT_EQ(offset, 10u);
  EXPECT_EQ(FileSeek(source, 0, kFileSeekCurrent), 2);
  EXPECT_EQ(FileSeek(copy, 0, kFileSeekCurrent), 9);
  FileClose(copy);
  EXPECT_EQ(ReadWholeFile(scratch.Child("copy")), "ab3456789");

  // A pipe is no file the kernel copies into: the bytes go through the buffer instead.
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  offset = 1;
  EXPECT_EQ(kSuccess,
            FileCopyRange(source, &offset, pipe_ends[1], 7, buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(offset, 8u);
  EXPECT_EQ(FileSeek(source, 0, kFileSeekCurrent), 2);
  close(pipe_ends[1]);
  char piped[16] = {};
  EXPECT_EQ(read(pipe_ends[0], piped, sizeof piped), 7);
  EXPECT_STREQ(piped, "1234567");
  close(pipe_ends[0]);
  FileClose(source);
}

TEST(FileHandleTest, ReadAndWriteWithoutCount) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f"), "abc"));
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kReadWrite, kFileOpenExisting);
  char buffer[3] = {0, 0, 0};
  int overlapped = 0;
  EXPECT_EQ(kErrorInvalidParameter, FileRead(handle, buffer, 3, nullptr, nullptr));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
  EXPECT_EQ(kSuccess, FileRead(handle, buffer, 3, nullptr, &overlapped));
  EXPECT_EQ(kSuccess, LastErrorCode());
  EXPECT_EQ(0, buffer[0]);  // nothing was read
  EXPECT_EQ(kErrorInvalidParameter, FileWrite(handle, "xyz", 3, nullptr, nullptr));
  EXPECT_EQ(kSuccess, FileWrite(handle, "xyz", 3, nullptr, &overlapped));
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ("abc", ReadWholeFile(scratch.Child("f")));
}

TEST(FileHandleTest, ReadOfNoHandleFails) {
  char buffer[4];
  uint32_t count = 9;
  EXPECT_EQ(kErrorInvalidParameter, FileRead(kNoFileHandle, buffer, 4, &count, nullptr));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
}

TEST(FileHandleTest, WriteToNoHandleGivesInvalidHandle) {
  uint32_t count = 0;
  EXPECT_EQ(kErrorInvalidHandle, FileWrite(kNoFileHandle, "x", 1, &count, nullptr));
  EXPECT_EQ(kErrorInvalidHandle, LastErrorCode());
}

TEST(FileHandleTest, WriteToReadOnlyFileFails) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f"), "abc"));
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kFileAccessRead, kFileOpenExisting);
  uint32_t count = 5;
  EXPECT_EQ(kErrorInvalidParameter, FileWrite(handle, "x", 1, &count, nullptr));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ("abc", ReadWholeFile(scratch.Child("f")));
}

TEST(FileHandleTest, SeekOrigins) {
  ScratchDirectory scratch;
  ASSERT_TRUE(WriteWholeFile(scratch.Child("f"), "0123456789"));
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kFileAccessRead, kFileOpenExisting);
  EXPECT_EQ(4, FileSeek(handle, 4, kFileSeekBegin));
  EXPECT_EQ(6, FileSeek(handle, 2, kFileSeekCurrent));
  EXPECT_EQ(7, FileSeek(handle, -3, kFileSeekEnd));
  EXPECT_EQ(3, FileSeek(handle, 3, 9));  // an unknown origin counts from the start
  char c = 0;
  uint32_t count = 0;
  EXPECT_EQ(kSuccess, FileRead(handle, &c, 1, &count, nullptr));
  EXPECT_EQ('3', c);
  EXPECT_EQ(-1, FileSeek(handle, -20, kFileSeekBegin));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ(-1, FileSeek(kNoFileHandle, 0, kFileSeekBegin));
  EXPECT_EQ(kErrorInvalidHandle, LastErrorCode());
}

TEST(FileHandleTest, SeekBeyondFourGigabytes) {
  ScratchDirectory scratch;
  const FileHandle handle = OpenOrFail(scratch.Wide("sparse"), kReadWrite, kFileCreateAlways);
  const int64_t far = (int64_t{5} << 30) + 7;
  EXPECT_EQ(far, FileSeek(handle, far, kFileSeekBegin));
  EXPECT_EQ(kSuccess, FileTruncateHere(handle));
  EXPECT_EQ(far, FileSeek(handle, 0, kFileSeekEnd));
  EXPECT_EQ(kSuccess, FileClose(handle));
}

TEST(FileHandleTest, LastWriteTimeStampsWholeSeconds) {
  ScratchDirectory scratch;
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kReadWrite, kFileCreateAlways);
  // 2020-09-13 12:26:40 UTC plus 0.7654321 seconds.
  const uint64_t stamp = (uint64_t{1600000000} + 11644473600u) * 10000000u + 7654321u;
  const FileTime last_write = FileTimeFromValue(stamp);
  EXPECT_EQ(kSuccess, FileSetTimes(handle, nullptr, nullptr, &last_write));

  FileTime creation{1, 1};
  FileTime access{1, 1};
  FileTime written{1, 1};
  EXPECT_EQ(kSuccess, FileGetTimes(handle, &creation, &access, &written));
  EXPECT_EQ(stamp - 7654321u, FileTimeValue(written));
  EXPECT_EQ(stamp - 7654321u, FileTimeValue(access));
  EXPECT_EQ(0u, FileTimeValue(creation) % 10000000u);
  EXPECT_EQ(kSuccess, FileGetTimes(handle, nullptr, nullptr, nullptr));
  EXPECT_EQ(kSuccess, FileClose(handle));

  struct stat status;
  ASSERT_EQ(0, stat(scratch.Child("f").c_str(), &status));
  EXPECT_EQ(1600000000, status.st_mtim.tv_sec);
  EXPECT_EQ(0, status.st_mtim.tv_nsec);
}

// Times after 2038 and before 1970 do not fit a 32-bit time: the 32-bit build must keep
// them whole, as the x86-64 build does.
TEST(FileHandleTest, TimesBeyondThe32BitRangeStampAndReadBackExactly) {
  ScratchDirectory scratch;
  for (const int64_t seconds : {int64_t{4102444800}, int64_t{-315619200}}) {  // 2100, 1960
    const FileHandle handle = OpenOrFail(scratch.Wide("f"), kReadWrite, kFileCreateAlways);
    const FileTime stamp = FileTimeFromSystemSeconds(seconds);
    EXPECT_EQ(kSuccess, FileSetTimes(handle, nullptr, nullptr, &stamp)) << seconds;
    FileTime written{0, 0};
    EXPECT_EQ(kSuccess, FileGetTimes(handle, nullptr, nullptr, &written)) << seconds;
    EXPECT_EQ(FileTimeValue(stamp), FileTimeValue(written)) << seconds;
    EXPECT_EQ(kSuccess, FileClose(handle));
  }
}

TEST(FileHandleTest, PathTheLocaleCannotEncodeFailsAndMakesNothing) {
  ScratchDirectory scratch;
  LocaleOverride locale("de_DE.ISO-8859-1");
  FileHandle handle = kNoFileHandle;
  const WideString path = scratch.Wide("x") + u"\u0428";  // a Cyrillic letter
  EXPECT_EQ(kErrorInvalidParameter,
            FileOpen(path, kFileAccessWrite, 0, kFileCreateAlways, &handle, 0));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
  EXPECT_EQ(kNoFileHandle, handle);
  EXPECT_EQ(SizeOf(scratch.Child("x")), -1);
}

TEST(FileHandleTest, SetTimesFailures) {
  ScratchDirectory scratch;
  const FileTime time = FileTimeFromSystemSeconds(1);
  EXPECT_EQ(kErrorInvalidHandle, FileSetTimes(kNoFileHandle, nullptr, nullptr, &time));
  EXPECT_EQ(kErrorInvalidHandle, LastErrorCode());
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kReadWrite, kFileCreateAlways);
  EXPECT_EQ(kErrorInvalidParameter, FileSetTimes(handle, &time, &time, nullptr));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
  EXPECT_EQ(kSuccess, FileClose(handle));
}

TEST(FileHandleTest, InvalidHandleOperations) {
  FileTime time{0, 0};
  EXPECT_EQ(kErrorInvalidHandle, FileGetTimes(kNoFileHandle, &time, nullptr, nullptr));
  EXPECT_EQ(kErrorInvalidHandle, FileTruncateHere(kNoFileHandle));
  EXPECT_EQ(kErrorInvalidParameter, FileClose(kNoFileHandle));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
}

TEST(FileHandleTest, CloseKeepsTheLastError) {
  ScratchDirectory scratch;
  const FileHandle handle = OpenOrFail(scratch.Wide("f"), kFileAccessRead, kFileCreateAlways);
  uint32_t count = 0;
  EXPECT_EQ(kErrorInvalidParameter, FileWrite(handle, "x", 1, &count, nullptr));
  EXPECT_EQ(kSuccess, FileClose(handle));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
  // The next operation starts from 0 again.
  EXPECT_EQ(-1, FileSeek(handle, 0, kFileSeekBegin));
  EXPECT_EQ(kErrorInvalidParameter, LastErrorCode());
}

}  // namespace
