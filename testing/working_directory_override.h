// WorkingDirectoryOverride: makes a folder the process's working directory for the lifetime
// of the object and returns to the old one afterwards.

#ifndef TESTING_WORKING_DIRECTORY_OVERRIDE_H_
#define TESTING_WORKING_DIRECTORY_OVERRIDE_H_

#include <string>

class WorkingDirectoryOverride {
 public:
  // Throws std::runtime_error when the folder cannot be entered.
  explicit WorkingDirectoryOverride(const std::string& path);
  // Fails the running test when the old directory cannot be entered again.
  ~WorkingDirectoryOverride();
  WorkingDirectoryOverride(const WorkingDirectoryOverride&) = delete;
  WorkingDirectoryOverride& operator=(const WorkingDirectoryOverride&) = delete;

 private:
  std::string old_directory_;
};

#endif  // TESTING_WORKING_DIRECTORY_OVERRIDE_H_
