// ScratchHome: a scratch directory that is the whole per-user world of the code under test
// while the object lives: its "home" is HOME, its "tmp" is TMPDIR, its "work" is the working
// directory, and LC_ALL is C.UTF-8. Everything is undone and removed on destruction.

#ifndef TESTING_SCRATCH_HOME_H_
#define TESTING_SCRATCH_HOME_H_

#include <memory>
#include <string>
#include <vector>

#include "testing/environment_override.h"
#include "testing/locale_override.h"
#include "testing/scratch_directory.h"
#include "testing/working_directory_override.h"

class ScratchHome : public ScratchDirectory {
 public:
  // The folder and its home can be entered by every user (as a home usually can), so that a
  // test may run code as another user on files below the home.
  ScratchHome();

  std::string Home() const { return Child("home"); }
  std::string Work() const { return Child("work"); }
  // The default template directory below the home, with its trailing "/".
  std::string DefaultTarget() const { return Home() + "/.tavlo5/Tavlo/tavlo5/tmplts/"; }
  // The launcher's settings files below the home: the user's, the alternative and the common.
  std::string UserSettingsPath() const { return Home() + "/.Tavlo/tavlostart/tavlostart.cfg"; }
  std::string AltSettingsPath() const { return Home() + "/.Tavlo/tavlostartt/tavlostart.cfg"; }
  std::string CommonSettingsPath() const {
    return Home() + "/.tavlo5/.Tavlo/tavlostart/tavlostart.cfg";
  }

  // Writes a settings file (making its directory) with one line per text, each ended by
  // "\n"; throws std::runtime_error when that fails.
  static void WriteSettings(const std::string& path, const std::vector<std::string>& lines);

 private:
  // Made in this order, undone in the reverse one, before the folder goes.
  std::unique_ptr<EnvironmentOverride> home_;
  std::unique_ptr<LocaleOverride> locale_;
  std::unique_ptr<WorkingDirectoryOverride> working_directory_;
};

#endif  // TESTING_SCRATCH_HOME_H_
