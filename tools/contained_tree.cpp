#include "tools/contained_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr mode_t kFolderMode = 0777;
constexpr mode_t kFileMode = 0666;
constexpr unsigned kTemporaryNameTries = 100;

std::string Reason(int error_number) { return std::strerror(error_number); }

std::vector<std::string> Components(const std::string& relative) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    if (slash > start) parts.push_back(relative.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// Why name, below parent, could not be opened as a folder.
std::string FolderRefusal(int parent, const std::string& name, int open_error) {
  struct stat64 status;
  if (fstatat64(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(status.st_mode)) return "is a symbolic link, which is not followed";
    if (!S_ISDIR(status.st_mode)) return "is not a folder";
  }
  return Reason(open_error);
}

// Opens the folder name below parent, making it when it is missing; -1 with *failure.
int OpenFolder(int parent, const std::string& name, const std::string& shown_path,
               std::string* failure) {
  if (mkdirat(parent, name.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    *failure = "cannot make the folder \"" + shown_path + "\": " + Reason(errno);
    return -1;
  }
  const int folder = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) {
    *failure = "\"" + shown_path + "\" " + FolderRefusal(parent, name, errno);
  }
  return folder;
}

}  // namespace

ContainedTree::~ContainedTree() {
  if (root_ >= 0) close(root_);
}

bool ContainedTree::Open(const std::string& directory, std::string* failure) {
  if (directory.empty()) {
    *failure = "the directory's name is empty";
    return false;
  }
  // The parents first, as "mkdir -p" makes them; whatever they are is checked by the open.
  for (std::size_t slash = directory.find('/', 1); slash != std::string::npos;
       slash = directory.find('/', slash + 1)) {
    mkdir(directory.substr(0, slash).c_str(), kFolderMode);
  }
  if (mkdir(directory.c_str(), kFolderMode) != 0 && errno != EEXIST) {
    *failure = "cannot make the directory \"" + directory + "\": " + Reason(errno);
    return false;
  }
  root_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_ < 0) {
    *failure = "cannot open the directory \"" + directory + "\": " + Reason(errno);
    return false;
  }
  root_path_ = directory;
  return true;
}

bool ContainedTree::WriteFile(const std::string& relative,
                              const std::function<bool(int, std::string*)>& fill,
                              std::string* failure) {
  const std::vector<std::string> parts = Components(relative);
  if (parts.empty()) {
    *failure = "\"" + relative + "\" names no file";
    return false;
  }
  for (const std::string& part : parts) {
    if (part == "..") {
      *failure = "\"" + relative + "\" leads out of the directory";
      return false;
    }
  }

  // Every folder on the way, each opened from the one before; only the last stays open.
  int folder = dup(root_);
  if (folder < 0) {
    *failure = "cannot use the directory \"" + root_path_ + "\": " + Reason(errno);
    return false;
  }
  std::string shown;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    shown += parts[i];
    const int next = OpenFolder(folder, parts[i], shown, failure);
    close(folder);
    if (next < 0) return false;
    folder = next;
    shown += "/";
  }
  const std::string& leaf = parts.back();
  shown += leaf;

  std::string temporary;
  int file = -1;
  for (unsigned tries = 0; file < 0 && tries < kTemporaryNameTries; ++tries) {
    temporary = ".efdtool-" + std::to_string(getpid()) + "-" + std::to_string(++temporary_count_);
    file = openat(folder, temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (file < 0 && errno != EEXIST) break;
  }
  if (file < 0) {
    *failure = "cannot create a file beside \"" + shown + "\": " + Reason(errno);
    close(folder);
    return false;
  }

  std::string fill_failure;
  bool written = fill(file, &fill_failure);
  if (!written) *failure = "\"" + shown + "\": " + fill_failure;
  // A close can report a delayed write failure.
  if (close(file) != 0 && written) {
    *failure = "cannot write \"" + shown + "\": " + Reason(errno);
    written = false;
  }
  if (written && renameat(folder, temporary.c_str(), folder, leaf.c_str()) != 0) {
    *failure = "cannot put \"" + shown + "\" in place: " + Reason(errno);
    written = false;
  }
  if (!written) unlinkat(folder, temporary.c_str(), 0);
  close(folder);
  return written;
}
