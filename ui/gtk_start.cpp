#include "ui/gtk_start.h"

#include <cstring>

bool WorkBesideGtkStartWanted(const char* display_variable, const char* startup_id,
                              int argument_count, char** argument_vector) {
  if (startup_id != nullptr && startup_id[0] != '\0') return false;
  if (display_variable != nullptr && display_variable[0] != '\0') return true;
  for (int i = 1; i < argument_count; ++i) {
    const char* argument = argument_vector[i];
    if (std::strcmp(argument, "--display") == 0 ||
        std::strncmp(argument, "--display=", 10) == 0) {
      return true;
    }
  }
  return false;
}
