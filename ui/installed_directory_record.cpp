#include "ui/installed_directory_record.h"

SettingsWriteResult RecordInstalledDirectory(const WideString& target_directory,
                                             std::vector<WideString>* locations,
                                             bool locations_from_alternative_file,
                                             bool alternative_file_exists) {
  WideString installed = target_directory;
  const std::size_t length = installed.Length();
  if (length > 0 && (installed[length - 1] == u'/' || installed[length - 1] == u'\\')) {
    installed.Erase(length - 1, 1);
  }
  locations->insert(locations->begin(), installed);

  SettingsWriteResult first_failure = kSettingsWritten;
  try {
    if (!locations_from_alternative_file) {
      const SettingsWriteResult result = SetTemplateLocations(*locations, false);
      if (first_failure == kSettingsWritten) first_failure = result;
    }
    if (alternative_file_exists) {
      const SettingsWriteResult result = SetTemplateLocations(*locations, true);
      if (first_failure == kSettingsWritten) first_failure = result;
    }
  } catch (...) {
    // Saving is best effort after a finished installation; the settings keep their old
    // content wherever the write did not complete.
    if (first_failure == kSettingsWritten) first_failure = kSettingsCannotOpen;
  }
  return first_failure;
}
