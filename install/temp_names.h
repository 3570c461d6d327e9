// Names for the temporary files of one installation run: kTempNamePrefix, a random run
// number drawn once, "-" and a counter. The names of one run never repeat, and two runs
// (or a name someone else chose) practically never meet; the files are still created
// exclusively, and a name that turns out to be taken is simply followed by the next one.
// Making a name costs no system call.

#ifndef INSTALL_TEMP_NAMES_H_
#define INSTALL_TEMP_NAMES_H_

#include <cstdint>

#include "text/narrow_string.h"

class TempNames {
 public:
  TempNames();
  // A new name in the folder relative_directory (relative to the template directory; empty
  // for the directory itself), as a relative path.
  NarrowString Next(const NarrowString& relative_directory);
  // The run number the names carry (kRunNumberBytes characters).
  NarrowString RunNumber() const { return NarrowString(run_); }

 private:
  char run_[17];
  uint64_t counter_ = 0;
};

// Whether name (a last name, no "/") is a temporary name of the run with run_number.
bool IsTempNameOfRun(const char* name, const NarrowString& run_number);
// Whether name has the form of a temporary name of any run: kTempNamePrefix, a run number
// of hexadecimal digits, "-" and a decimal counter.
bool HasTempNameForm(const char* name);

#endif  // INSTALL_TEMP_NAMES_H_
