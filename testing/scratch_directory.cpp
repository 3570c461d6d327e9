#include "testing/scratch_directory.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

#include "testing/test_files.h"
#include "testing/text_helpers.h"

static std::string TemporaryFolder() {
  const char* base = getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

ScratchDirectory::ScratchDirectory(TempUse temp) { Make(TemporaryFolder(), temp); }

ScratchDirectory::ScratchDirectory(const std::string& base, TempUse temp) { Make(base, temp); }

void ScratchDirectory::Make(const std::string& base, TempUse temp) {
  const std::string pattern = base + "/scratch_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
  path_ = buffer.data();
  if (temp == kOwnTemp) {
    if (mkdir(Child("tmp").c_str(), 0700) != 0) {
      rmdir(path_.c_str());
      throw std::runtime_error("cannot make " + Child("tmp"));
    }
    tmpdir_.reset(new EnvironmentOverride("TMPDIR", Child("tmp").c_str()));
  }
}

ScratchDirectory::~ScratchDirectory() {
  tmpdir_.reset();
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
  return WideFromUtf8(Child(name));
}

std::string ScratchDirectory::TempDirectory() const {
  if (tmpdir_ == nullptr) throw std::logic_error("no temporary directory of its own");
  return Child("tmp/");
}

int ScratchDirectory::TempEntryCount() const {
  return static_cast<int>(ListNames(TempDirectory()).size());
}

std::string ScratchDirectory::MakeDirectoryOfPathLength(std::size_t total_length) const {
  constexpr std::size_t kComponent = 200;
  std::string path = path_;
  if (total_length < path.size() + 2) throw std::runtime_error("bad length");
  int parent = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) throw std::runtime_error("cannot open " + path_);
  char letter = 'a';
  while (path.size() < total_length) {
    std::size_t room = total_length - path.size() - 1;
    // Leave at least two bytes for a last component, never a zero-length one.
    if (room > kComponent) room = room - kComponent < 2 ? kComponent - 2 : kComponent;
    const std::string name(room, letter++);
    const bool made = mkdirat(parent, name.c_str(), 0755) == 0;
    const int child = made ? openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(parent);
    if (!made) throw std::runtime_error("mkdirat failed");
    if (child < 0) throw std::runtime_error("openat failed");
    parent = child;
    path += "/" + name;
  }
  close(parent);
  return path;
}
