#include "testing/other_file_system.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

OtherFileSystemDirectory::OtherFileSystemDirectory(const std::string& than) {
  struct stat reference;
  if (stat(than.c_str(), &reference) != 0) return;
  std::vector<std::string> candidates = {"/dev/shm", "/run/shm", "/run", "/tmp", "/var/tmp"};
  if (const char* home = getenv("HOME")) candidates.push_back(home);
  char cwd[4096];
  if (getcwd(cwd, sizeof(cwd)) != nullptr) candidates.push_back(cwd);
  for (const std::string& candidate : candidates) {
    struct stat status;
    if (stat(candidate.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_dev == reference.st_dev) {
      continue;
    }
    try {
      folder_.reset(new ScratchDirectory(candidate, ScratchDirectory::kSharedTemp));
      return;
    } catch (const std::runtime_error&) {
      // Not writable: the next candidate.
    }
  }
}
