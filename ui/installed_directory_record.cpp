#include "ui/installed_directory_record.h"

#include <cstring>

#include "app/string_table.h"
#include "config/well_known_locations.h"
#include "text/locale_conversions.h"

SettingsWriteResult RecordInstalledDirectory(const WideString& target_directory,
                                             std::vector<WideString>* locations,
                                             bool locations_from_alternative_file,
                                             bool alternative_file_exists,
                                             SettingsWriteFailure* failure) {
  WideString installed = target_directory;
  const std::size_t length = installed.Length();
  if (length > 0 && (installed[length - 1] == u'/' || installed[length - 1] == u'\\')) {
    installed.Erase(length - 1, 1);
  }
  locations->insert(locations->begin(), installed);

  SettingsWriteFailure first;
  const auto save = [&](bool alternative) {
    int error_number = 0;
    const SettingsWriteResult result = SetTemplateLocations(*locations, alternative, &error_number);
    if (result != kSettingsWritten && first.result == kSettingsWritten) {
      first.result = result;
      first.path = alternative ? AltStarterConfigPath() : StarterConfigPath();
      first.error_number = error_number;
    }
  };
  try {
    if (!locations_from_alternative_file) save(false);
    if (alternative_file_exists) save(true);
  } catch (...) {
    // Saving is best effort after a finished installation; the settings keep their old
    // content wherever the write did not complete.
    if (first.result == kSettingsWritten) {
      first.result = kSettingsCannotOpen;
      first.path = !locations_from_alternative_file ? StarterConfigPath() : AltStarterConfigPath();
      first.error_number = 0;
    }
  }
  if (failure != nullptr) *failure = first;
  return first.result;
}

WideString SettingsFailureText(const SettingsWriteFailure& failure) {
  WideString text = LoadText(NarrowString("IDS_ERROR_SETTINGS"));
  text.Append(u'\n');
  text.Append(failure.path);
  if (failure.error_number != 0) {
    text.Append(u": ");
    text.Append(FromLocaleBytes(NarrowString(std::strerror(failure.error_number))));
  }
  return text;
}
