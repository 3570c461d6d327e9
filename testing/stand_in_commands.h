// StandInCommands: a folder of stand-in programs first on PATH while the object lives, so
// that a test sees, or decides, what a command the code under test runs through the shell
// does.

#ifndef TESTING_STAND_IN_COMMANDS_H_
#define TESTING_STAND_IN_COMMANDS_H_

#include <string>

#include "testing/environment_override.h"

class StandInCommands {
 public:
  // folder is made when it does not exist; throws std::runtime_error when that fails.
  explicit StandInCommands(const std::string& folder);
  StandInCommands(const StandInCommands&) = delete;
  StandInCommands& operator=(const StandInCommands&) = delete;

  // A program of that name that runs the POSIX shell body; throws std::runtime_error when it
  // cannot be put in place.
  void Add(const std::string& name, const std::string& body) const;

  // The first "/usr/bin/name" or "/bin/name" that can be run, for a stand-in that passes its
  // call on; throws std::runtime_error when there is none.
  static std::string RealProgram(const std::string& name);

 private:
  std::string folder_;
  EnvironmentOverride path_;
};

#endif  // TESTING_STAND_IN_COMMANDS_H_
