// Recording the installed template directory in the launcher's settings after a successful
// installation, so that the launcher finds the templates.
//
// The target directory, without one trailing "/" or "\", is put at the front of the list of
// template locations (the entries already there stay, after it). The list is then saved in
// the user settings file unless the locations came from the alternative file, and saved once
// more in the alternative file when that file exists. Both saves are attempted; any
// exception while saving ends the saving and is not passed on.

#ifndef UI_INSTALLED_DIRECTORY_RECORD_H_
#define UI_INSTALLED_DIRECTORY_RECORD_H_

#include <vector>

#include "config/starter_config.h"
#include "text/wide_string.h"

// Which save failed, and why.
struct SettingsWriteFailure {
  SettingsWriteResult result = kSettingsWritten;
  // The settings file that could not be written.
  WideString path;
  // The system's reason (errno); 0 where none is known (an exception while saving).
  int error_number = 0;
};

// Updates *locations as described and saves it. Returns kSettingsWritten when every save
// that was made succeeded (or none was due), else the result of the first failed save
// (kSettingsCannotOpen also when saving raised an exception), which *failure (when given)
// then describes. The installation itself has succeeded either way: the caller reports the
// failure and keeps the success.
SettingsWriteResult RecordInstalledDirectory(const WideString& target_directory,
                                             std::vector<WideString>* locations,
                                             bool locations_from_alternative_file,
                                             bool alternative_file_exists,
                                             SettingsWriteFailure* failure = nullptr);

// The text that reports a failed save: IDS_ERROR_SETTINGS, then on the next line the
// settings file's path, followed by ": " and the system's reason where one is known.
WideString SettingsFailureText(const SettingsWriteFailure& failure);

#endif  // UI_INSTALLED_DIRECTORY_RECORD_H_
