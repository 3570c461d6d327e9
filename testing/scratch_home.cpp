#include "testing/scratch_home.h"

#include <sys/stat.h>

#include <stdexcept>

#include "testing/test_files.h"

static void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && !IsDirectory(path)) {
    throw std::runtime_error("cannot make " + path);
  }
  if (chmod(path.c_str(), 0755) != 0) throw std::runtime_error("cannot open up " + path);
}

ScratchHome::ScratchHome() : ScratchDirectory(kOwnTemp) {
  MakeFolder(Path());
  MakeFolder(Home());
  MakeFolder(Work());
  home_.reset(new EnvironmentOverride("HOME", Home().c_str()));
  locale_.reset(new LocaleOverride("C.UTF-8"));
  working_directory_.reset(new WorkingDirectoryOverride(Work()));
}

void ScratchHome::WriteSettings(const std::string& path, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\n";
  if (!MakeDirectories(path.substr(0, path.rfind('/'))) || !WriteWholeFile(path, bytes)) {
    throw std::runtime_error("cannot write " + path);
  }
}
