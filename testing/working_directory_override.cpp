#include "testing/working_directory_override.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

WorkingDirectoryOverride::WorkingDirectoryOverride(const std::string& path) {
  char* directory = getcwd(nullptr, 0);
  if (directory == nullptr) throw std::runtime_error("cannot tell the working directory");
  old_directory_ = directory;
  std::free(directory);
  if (chdir(path.c_str()) != 0) throw std::runtime_error("cannot enter " + path);
}

WorkingDirectoryOverride::~WorkingDirectoryOverride() {
  if (chdir(old_directory_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << old_directory_;
}
