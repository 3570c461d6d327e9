#include "tools/contained_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fs/beneath.h"
#include "fs/exclusive_file.h"
#include "fs/replace_file.h"

namespace {

constexpr mode_t kFolderMode = 0777;
constexpr mode_t kFileMode = 0666;

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
  if (!StaysBeneath(relative.data(), relative.size())) {
    *failure = "\"" + relative + "\" leads out of the directory";
    return false;
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

  NarrowString temporary;
  const int file = CreateExclusiveFile(
      folder,
      [this](int, NarrowString* proposal) {
        *proposal = NarrowString((".efdtool-" + std::to_string(getpid()) + "-" +
                                  std::to_string(++temporary_count_)).c_str());
        return true;
      },
      O_WRONLY, kFileMode, &temporary);
  if (file < 0) {
    *failure = "cannot create a file beside \"" + shown + "\": " + Reason(errno);
    close(folder);
    return false;
  }

  std::string fill_failure;
  bool written = fill(file, &fill_failure);
  if (!written) {
    *failure = "\"" + shown + "\": " + fill_failure;
    close(file);
    unlinkat(folder, temporary.CStr(), 0);
    close(folder);
    return false;
  }
  int error = 0;
  switch (PutInPlace(folder, file, temporary.CStr(), leaf.c_str(), ReplaceDurability::kNone,
                     &error)) {
    case ReplaceStep::kDone:
    case ReplaceStep::kSync:
      break;
    case ReplaceStep::kWrite:
      *failure = "cannot write \"" + shown + "\": " + Reason(error);
      written = false;
      break;
    case ReplaceStep::kRename:
      *failure = "cannot put \"" + shown + "\" in place: " + Reason(error);
      written = false;
      break;
  }
  close(folder);
  return written;
}
