#include "config/settings_file_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "config/well_known_locations.h"
#include "fs/exclusive_file.h"
#include "fs/read_link.h"
#include "fs/replace_file.h"
#include "fs/temp_file.h"
#include "text/locale_conversions.h"

namespace {

constexpr int kLinkDepthLimit = 40;
constexpr std::size_t kNewFileRandomCharacters = 8;
const char kNewFileInfix[] = ".new-";
const char kRewriteCopySuffix[] = ".rewrite";

// The rewrite copy: the magic, a checksum of everything after it, the file's device and
// inode, the lengths of its path and of the content, then the path and the content. The
// numbers are in the machine's byte order: the copy is read back on the machine that made it.
const char kRewriteCopyMagic[8] = {'T', '5', 'C', 'F', 'G', 'R', 'W', '1'};
constexpr std::size_t kChecksumAt = 8;
constexpr std::size_t kBodyAt = 16;
constexpr std::size_t kPathLengthAt = 32;
constexpr std::size_t kContentLengthAt = 40;
constexpr std::size_t kRewriteCopyHeaderBytes = 48;
// No copy this program makes comes near this size; a larger file is none of its copies and
// would not fit into a 32-bit process.
constexpr uint64_t kLargestRewriteCopyBytes = uint64_t{1} << 30;

SettingsWriteResult Fail(SettingsWriteResult result, int error, int* error_number) {
  *error_number = error;
  return result;
}

// Everything before the last "/" ("." when there is none, "/" for a file in the root).
std::string DirectoryOf(const std::string& path) {
  const std::size_t at = path.rfind('/');
  if (at == std::string::npos) return ".";
  return at == 0 ? std::string("/") : path.substr(0, at);
}

std::string NameOf(const std::string& path) {
  const std::size_t at = path.rfind('/');
  return at == std::string::npos ? path : path.substr(at + 1);
}

// The file that a write of path replaces: path itself, or the file its chain of symbolic
// links ends at (which need not exist yet). *through_link tells whether a link was followed,
// *foreign_link whether one of them belongs to another user than this process's.
std::string ResolveFile(std::string path, bool* through_link, bool* foreign_link) {
  for (int depth = 0; depth < kLinkDepthLimit; ++depth) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    *through_link = true;
    if (st.st_uid != geteuid()) *foreign_link = true;
    NarrowString target;
    if (ReadLinkAt(AT_FDCWD, path.c_str(), &target) != 0 || target.Empty()) return path;
    std::string next(target.Data(), target.Length());
    if (next[0] != '/' && path.find('/') != std::string::npos)
      next = path.substr(0, path.rfind('/') + 1) + next;
    path = next;
  }
  return path;
}

// Whether this process may rewrite a file that belongs to owner. Root rewrites only root's
// files: with HOME kept by sudo, the settings path lies in another user's home, and what it
// names is that user's to change. Through a symbolic link, nobody rewrites another user's
// file: the link decides which file it is, not the owner of the settings.
bool MayRewrite(uid_t owner, bool through_link) {
  const uid_t self = geteuid();
  if (owner == self) return true;
  return self != 0 && !through_link;
}

// Writes size bytes at offset; 0 or the errno of the failure (ENOSPC for a write that made
// no progress).
int WriteAllAt(int fd, const char* data, std::size_t size, uint64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Reads the size bytes of the file from its start; false when they cannot be read whole.
bool ReadAll(int fd, uint64_t size, std::string* out) {
  out->assign(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = pread(fd, &(*out)[done], out->size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the directory's entries durable; 0 or errno. A file system that cannot flush a
// directory (EINVAL) makes its entries durable with the files, so that is no failure.
int FlushDirectory(int dirfd) {
  if (fsync(dirfd) == 0 || errno == EINVAL) return 0;
  return errno;
}

// The content into the open file from its start, the file cut after it and flushed; 0 or
// errno.
int CopyIntoFile(int fd, const std::string& content) {
  int error = WriteAllAt(fd, content.data(), content.size(), 0);
  if (error == 0 && ftruncate(fd, static_cast<off_t>(content.size())) != 0) error = errno;
  if (error == 0 && fsync(fd) != 0) error = errno;
  return error;
}

// Removes the new files ".<name>.new-XXXXXXXX" that a killed writer left in the directory.
// Only regular files of this user are removed. One that cannot be removed stays; it does
// not stop this write, which makes a name of its own.
void RemoveLeftoverNewFiles(int dirfd, const std::string& name) {
  const std::string prefix = "." + name + kNewFileInfix;
  const int listing = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return;
  }
  std::vector<std::string> leftovers;
  while (const dirent* entry = readdir(dir)) {
    const std::string entry_name = entry->d_name;
    if (entry_name.size() == prefix.size() + kNewFileRandomCharacters &&
        entry_name.compare(0, prefix.size(), prefix) == 0) {
      leftovers.push_back(entry_name);
    }
  }
  closedir(dir);
  for (const std::string& leftover : leftovers) {
    struct stat st;
    if (fstatat(dirfd, leftover.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid()) {
      unlinkat(dirfd, leftover.c_str(), 0);
    }
  }
}

// Puts content into a hidden new file next to the file called name and renames it over the
// file, so that a reader sees the old content or the new, never a part. old, when given, is
// the file replaced: the new one gets its owner, group and permission bits first, and when
// that is not allowed nothing is replaced. Returns kSettingsWritten, kSettingsCannotWrite
// after a failed write or flush, or kSettingsCannotOpen when no new file could be made,
// given the old one's owner or renamed.
SettingsWriteResult ReplaceWithNewFile(int dirfd, const std::string& name,
                                       const std::string& content, const struct stat* old,
                                       int* error_number) {
  RemoveLeftoverNewFiles(dirfd, name);
  const NarrowString base(("." + name + kNewFileInfix).c_str());
  NarrowString temp;
  const int fd = CreateExclusiveFile(
      dirfd,
      [&base](int attempt, NarrowString* proposal) {
        *proposal = base;
        AppendRandomNameCharacters(kNewFileRandomCharacters, static_cast<uint64_t>(attempt),
                                   proposal);
        return true;
      },
      O_WRONLY, 0666, &temp);
  if (fd < 0) return Fail(kSettingsCannotOpen, errno, error_number);
  SettingsWriteResult result = kSettingsWritten;
  int error = 0;
  if (old != nullptr &&
      (fchown(fd, old->st_uid, old->st_gid) != 0 || fchmod(fd, old->st_mode & 07777) != 0)) {
    result = kSettingsCannotOpen;
    error = errno;
  }
  if (result == kSettingsWritten) {
    error = WriteAllAt(fd, content.data(), content.size(), 0);
    if (error != 0) result = kSettingsCannotWrite;
  }
  if (result != kSettingsWritten) {
    close(fd);
    unlinkat(dirfd, temp.CStr(), 0);
    return Fail(result, error, error_number);
  }
  // Only the flushed directory makes the rename survive a power loss, so a failed flush is a
  // failed write.
  switch (PutInPlace(dirfd, fd, temp.CStr(), name.c_str(), ReplaceDurability::kDataThenFolder,
                     &error)) {
    case ReplaceStep::kDone:
      return kSettingsWritten;
    case ReplaceStep::kRename:
      return Fail(kSettingsCannotOpen, error, error_number);
    case ReplaceStep::kWrite:
    case ReplaceStep::kSync:
      break;
  }
  return Fail(kSettingsCannotWrite, error, error_number);
}

// FNV-1a, 64 bits: enough to tell a whole copy from one that a kill cut short.
uint64_t Checksum(const char* data, std::size_t size) {
  uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(data[i]);
    hash *= 1099511628211ull;
  }
  return hash;
}

void PutNumber(uint64_t value, std::string* out) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out->append(bytes, sizeof value);
}

uint64_t NumberAt(const std::string& in, std::size_t at) {
  uint64_t value = 0;
  std::memcpy(&value, in.data() + at, sizeof value);
  return value;
}

std::string RewriteCopyName(const std::string& file) {
  return "." + NameOf(file) + kRewriteCopySuffix;
}

// The directories a rewrite copy of file may be in, in the order they are tried: the file's
// own, then the home directory.
std::vector<std::string> RewriteCopyDirectories(const std::string& file) {
  std::vector<std::string> directories{DirectoryOf(file)};
  NarrowString home;
  if (ToLocaleBytesExact(HomeDirectory(), &home) && !home.Empty() && home[0] == '/') {
    const std::string home_path(home.Data(), home.Length());
    if (home_path != directories[0]) directories.push_back(home_path);
  }
  return directories;
}

std::string FormatRewriteCopy(const std::string& file, const struct stat& st,
                              const std::string& content) {
  std::string body;
  PutNumber(static_cast<uint64_t>(st.st_dev), &body);
  PutNumber(static_cast<uint64_t>(st.st_ino), &body);
  PutNumber(file.size(), &body);
  PutNumber(content.size(), &body);
  body += file;
  body += content;
  std::string bytes(kRewriteCopyMagic, sizeof kRewriteCopyMagic);
  PutNumber(Checksum(body.data(), body.size()), &bytes);
  return bytes + body;
}

struct RewriteCopy {
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string file;
  std::string content;
};

// False for bytes that are no whole rewrite copy.
bool ParseRewriteCopy(const std::string& bytes, RewriteCopy* copy) {
  if (bytes.size() < kRewriteCopyHeaderBytes ||
      std::memcmp(bytes.data(), kRewriteCopyMagic, sizeof kRewriteCopyMagic) != 0 ||
      Checksum(bytes.data() + kBodyAt, bytes.size() - kBodyAt) != NumberAt(bytes, kChecksumAt)) {
    return false;
  }
  const uint64_t path_length = NumberAt(bytes, kPathLengthAt);
  const uint64_t content_length = NumberAt(bytes, kContentLengthAt);
  const uint64_t rest = bytes.size() - kRewriteCopyHeaderBytes;
  if (path_length > rest || content_length != rest - path_length) return false;
  copy->device = NumberAt(bytes, kBodyAt);
  copy->inode = NumberAt(bytes, kBodyAt + 8);
  copy->file = bytes.substr(kRewriteCopyHeaderBytes, static_cast<std::size_t>(path_length));
  copy->content = bytes.substr(kRewriteCopyHeaderBytes + static_cast<std::size_t>(path_length));
  return true;
}

// Writes the rewrite copy into the directory, exclusively, and flushes it and the directory;
// 0 or errno. A copy that cannot be made whole is removed again.
int WriteRewriteCopyAt(int dirfd, const std::string& copy_name, const std::string& bytes) {
  const int fd =
      openat(dirfd, copy_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int error = WriteAllAt(fd, bytes.data(), bytes.size(), 0);
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0) error = FlushDirectory(dirfd);
  if (error != 0) unlinkat(dirfd, copy_name.c_str(), 0);
  return error;
}

// Makes the rewrite copy of file (whose status is st) in the first directory that takes it.
// Returns 0 with *place an open descriptor of that directory, or the errno of the first
// directory.
int MakeRewriteCopy(const std::string& file, const struct stat& st, const std::string& content,
                    int* place) {
  const std::string bytes = FormatRewriteCopy(file, st, content);
  const std::string copy_name = RewriteCopyName(file);
  int first_error = 0;
  for (const std::string& directory : RewriteCopyDirectories(file)) {
    const int dirfd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = dirfd < 0 ? errno : WriteRewriteCopyAt(dirfd, copy_name, bytes);
    if (error == 0) {
      *place = dirfd;
      return 0;
    }
    if (dirfd >= 0) close(dirfd);
    if (first_error == 0) first_error = error;
  }
  return first_error;
}

int RemoveRewriteCopy(int dirfd, const std::string& copy_name) {
  if (unlinkat(dirfd, copy_name.c_str(), 0) != 0) return errno;
  return FlushDirectory(dirfd);
}

// Makes sure that content fits into the open file of old_size bytes before any of its bytes
// changes; 0 or errno. Room is reserved beyond the end without changing the file's length;
// where the file system cannot reserve, the new content's tail is written past the old end
// first, and cut away again when it does not fit, so the old bytes stay whole either way.
// *file_changed tells whether a failure left the file longer than it was.
int ReserveRoom(int fd, uint64_t old_size, const std::string& content, bool* file_changed) {
  if (content.size() <= old_size) return 0;
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(content.size())) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  const std::size_t kept = static_cast<std::size_t>(old_size);
  const int error = WriteAllAt(fd, content.data() + kept, content.size() - kept, old_size);
  if (error != 0) *file_changed = ftruncate(fd, static_cast<off_t>(old_size)) != 0;
  return error;
}

// Rewrites the open file (status st, path file) where it is: the file stays the same file,
// with its owner, mode and every other name it has. The order (a whole copy first, then the
// room, then the copy into the file) is what makes a kill or a full file system harmless.
SettingsWriteResult RewriteInPlace(int fd, const struct stat& st, const std::string& file,
                                   const std::string& content, int* error_number) {
  int place = -1;
  int error = MakeRewriteCopy(file, st, content, &place);
  if (error != 0) return Fail(kSettingsCannotWrite, error, error_number);
  const std::string copy_name = RewriteCopyName(file);
  bool file_changed = false;
  error = ReserveRoom(fd, static_cast<uint64_t>(st.st_size), content, &file_changed);
  if (error != 0) {
    // Where nothing of the file changed, the copy goes, and the file keeps its old content.
    // A copy that cannot be removed, or a tail that could not be cut away again, is put
    // right by the next start, which then finishes this write late.
    if (!file_changed) RemoveRewriteCopy(place, copy_name);
    close(place);
    return Fail(kSettingsCannotWrite, error, error_number);
  }
  error = CopyIntoFile(fd, content);
  if (error == 0) error = RemoveRewriteCopy(place, copy_name);
  close(place);
  // After a failed copy the rewrite copy stays, and the next start finishes the copy.
  if (error != 0) return Fail(kSettingsCannotWrite, error, error_number);
  return kSettingsWritten;
}

// Copies the rewrite copy into the file it names. True when the copy has done its work or
// never can (the file went, was replaced by another file, or is no file this process may
// rewrite); false when it should be tried again.
bool ApplyRewriteCopy(const RewriteCopy& copy) {
  const int fd = open(copy.file.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ELOOP;
  struct stat st;
  bool done = true;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_dev) == copy.device &&
      static_cast<uint64_t>(st.st_ino) == copy.inode && MayRewrite(st.st_uid, false)) {
    done = CopyIntoFile(fd, copy.content) == 0;
  }
  close(fd);
  return done;
}

// Finishes the rewrite copy copy_name in directory, if there is one that this user made.
void FinishRewriteCopyIn(const std::string& directory, const std::string& copy_name) {
  const int dirfd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return;
  const int fd = openat(dirfd, copy_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    close(dirfd);
    return;
  }
  // Only a copy that this user made, and nobody else can have changed, is applied.
  struct stat st;
  std::string bytes;
  const bool own = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                   st.st_nlink == 1 && (st.st_mode & 022) == 0 &&
                   static_cast<uint64_t>(st.st_size) <= kLargestRewriteCopyBytes &&
                   ReadAll(fd, static_cast<uint64_t>(st.st_size), &bytes);
  close(fd);
  if (own) {
    RewriteCopy copy;
    // A copy that is not whole was cut short by a kill before the file was touched.
    if (!ParseRewriteCopy(bytes, &copy) || ApplyRewriteCopy(copy))
      RemoveRewriteCopy(dirfd, copy_name);
  }
  close(dirfd);
}

// Writes content into the file called name in the open directory, as described in the
// header. file is the file's path, through_link whether a symbolic link led to it.
SettingsWriteResult WriteInDirectory(int dirfd, const std::string& file, const std::string& name,
                                     bool through_link, const std::string& content,
                                     int* error_number) {
  struct stat st;
  if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail(kSettingsCannotOpen, errno, error_number);
    return ReplaceWithNewFile(dirfd, name, content, nullptr, error_number);
  }
  // A FIFO, a device or a directory is no settings file: it is neither opened (a FIFO would
  // wait for a reader) nor replaced.
  if (!S_ISREG(st.st_mode)) {
    return Fail(kSettingsCannotOpen, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, error_number);
  }
  if (!MayRewrite(st.st_uid, through_link)) return Fail(kSettingsNotOwned, EPERM, error_number);
  // The file is replaced only where it could be written: opening it for writing decides,
  // as it would for a program that writes the file itself.
  const int fd =
      openat(dirfd, name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Fail(kSettingsCannotOpen, errno, error_number);
  struct stat opened;
  SettingsWriteResult result = kSettingsCannotOpen;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    result = Fail(kSettingsCannotOpen, EINVAL, error_number);
  } else if (!MayRewrite(opened.st_uid, through_link)) {
    // The name was given to another file since it was examined.
    result = Fail(kSettingsNotOwned, EPERM, error_number);
  } else {
    // A file with other names keeps them only when it is written where it is; elsewhere a
    // new file is made and renamed over it. Where no new file can be made next to it (a
    // folder the user cannot write to) or be given the file's owner, the file is written
    // where it is too.
    if (opened.st_nlink == 1)
      result = ReplaceWithNewFile(dirfd, name, content, &opened, error_number);
    if (result == kSettingsCannotOpen)
      result = RewriteInPlace(fd, opened, file, content, error_number);
  }
  close(fd);
  return result;
}

}  // namespace

SettingsWriteResult WriteSettingsFile(const NarrowString& path, const std::string& content,
                                      int* error_number) {
  FinishInterruptedSettingsRewrite(path);
  bool through_link = false;
  bool foreign_link = false;
  const std::string file =
      ResolveFile(std::string(path.Data(), path.Length()), &through_link, &foreign_link);
  // As root, a link that someone else made chooses nothing: the user could point it at any
  // file of the system.
  if (foreign_link && geteuid() == 0) return Fail(kSettingsNotOwned, EPERM, error_number);
  const int dirfd = open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return Fail(kSettingsCannotOpen, errno, error_number);
  const SettingsWriteResult result =
      WriteInDirectory(dirfd, file, NameOf(file), through_link, content, error_number);
  close(dirfd);
  return result;
}

void FinishInterruptedSettingsRewrite(const NarrowString& path) {
  bool through_link = false;
  bool foreign_link = false;
  const std::string file =
      ResolveFile(std::string(path.Data(), path.Length()), &through_link, &foreign_link);
  const std::string copy_name = RewriteCopyName(file);
  for (const std::string& directory : RewriteCopyDirectories(file)) {
    FinishRewriteCopyIn(directory, copy_name);
  }
}

SettingsWriteResult WriteSettingsRewriteCopy(const NarrowString& file, const std::string& content,
                                             int* error_number) {
  const std::string path(file.Data(), file.Length());
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Fail(kSettingsCannotWrite, errno, error_number);
  if (!S_ISREG(st.st_mode)) return Fail(kSettingsCannotWrite, EINVAL, error_number);
  int place = -1;
  const int error = MakeRewriteCopy(path, st, content, &place);
  if (error != 0) return Fail(kSettingsCannotWrite, error, error_number);
  close(place);
  return kSettingsWritten;
}
