#include "fs/scratch_directory.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

ScratchDirectory::ScratchDirectory() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/fs_test_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Tests may leave unreadable directories behind; open them up before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

WideString ScratchDirectory::Wide(const std::string& name) const {
  return WideFromAscii(Child(name));
}

std::string ScratchDirectory::MakeDirectoryOfPathLength(std::size_t total_length) const {
  constexpr std::size_t kComponent = 200;
  std::string path = path_;
  int parent = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0 || total_length < path.size() + 2) throw std::runtime_error("bad length");
  char letter = 'a';
  while (path.size() < total_length) {
    std::size_t room = total_length - path.size() - 1;
    // Leave at least two bytes for a last component, never a zero-length one.
    if (room > kComponent) room = room - kComponent < 2 ? kComponent - 2 : kComponent;
    const std::string name(room, letter++);
    if (mkdirat(parent, name.c_str(), 0755) != 0) throw std::runtime_error("mkdirat failed");
    const int child = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(parent);
    if (child < 0) throw std::runtime_error("openat failed");
    parent = child;
    path += "/" + name;
  }
  close(parent);
  return path;
}

WideString WideFromAscii(const std::string& text) {
  WideString wide;
  for (char c : text) wide.Append(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsDirectory(const std::string& path) {
  struct stat64 status;
  return lstat64(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool Exists(const std::string& path) {
  struct stat64 status;
  return lstat64(path.c_str(), &status) == 0;
}
