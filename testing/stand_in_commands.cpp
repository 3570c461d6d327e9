#include "testing/stand_in_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "testing/test_files.h"

StandInCommands::StandInCommands(const std::string& folder)
    : folder_(folder), path_("PATH", nullptr) {
  if (!MakeDirectories(folder_)) throw std::runtime_error("cannot make " + folder_);
  const std::string old_path = path_.OldValue().empty() ? "/usr/bin:/bin" : path_.OldValue();
  path_.Set((folder_ + ":" + old_path).c_str());
}

void StandInCommands::Add(const std::string& name, const std::string& body) const {
  const std::string program = folder_ + "/" + name;
  if (!WriteWholeFile(program, "#!/bin/sh\n" + body + "\n") || chmod(program.c_str(), 0755) != 0) {
    throw std::runtime_error("cannot write " + program);
  }
}

std::string StandInCommands::RealProgram(const std::string& name) {
  for (const char* directory : {"/usr/bin/", "/bin/"}) {
    const std::string path = directory + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  throw std::runtime_error("no " + name);
}
