#include "testing/test_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

template <typename Container>
static Container ReadInto(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot read " + path);
  Container bytes;
  char piece[65536];
  std::size_t count;
  while ((count = std::fread(piece, 1, sizeof piece, file)) > 0) {
    bytes.insert(bytes.end(), piece, piece + count);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) throw std::runtime_error("cannot read " + path);
  return bytes;
}

std::string ReadWholeFile(const std::string& path) { return ReadInto<std::string>(path); }

Bytes ReadWholeFileBytes(const std::string& path) { return ReadInto<Bytes>(path); }

static bool WriteBytes(const std::string& path, const void* data, std::size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, size, 1, file) == 1;
  return std::fclose(file) == 0 && written;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  return WriteBytes(path, bytes.data(), bytes.size());
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes) {
  return WriteBytes(path, bytes.data(), bytes.size());
}

bool WriteFileAt(const std::string& path, const std::string& bytes, int64_t seconds,
                 long nanoseconds) {
  return WriteWholeFile(path, bytes) && SetModificationTime(path, seconds, nanoseconds);
}

bool MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error;
}

bool SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t ModificationSeconds(const std::string& path) {
  struct stat64 status;
  if (lstat64(path.c_str(), &status) != 0) return -1;
  return status.st_mtim.tv_sec;
}

bool Exists(const std::string& path) {
  struct stat64 status;
  return lstat64(path.c_str(), &status) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat64 status;
  return lstat64(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::vector<std::string> ListNames(const std::string& directory) {
  DIR* stream = opendir(directory.c_str());
  if (stream == nullptr) throw std::runtime_error("cannot list " + directory);
  std::vector<std::string> names;
  // readdir64: the 32-bit build's plain readdir fails on the large inode numbers of some
  // file systems.
  while (const dirent64* entry = readdir64(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(stream);
  std::sort(names.begin(), names.end());
  return names;
}

int OpenDescriptorCount() { return static_cast<int>(ListNames("/proc/self/fd").size()); }

bool SetImmutable(const std::string& path, bool immutable) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return false;
  int flags = 0;
  bool done = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(descriptor);
  return done;
}
