// The forecast a silent run makes while its kit is opened: whether an installation into the
// target directory would write anything at all. When it would not, the kit stores no data
// (kit/early_look.h). It is a forecast only: the run looks at every entry again, and stores
// the data after all when it finds something to write.

#ifndef INSTALL_WRITE_FORECAST_H_
#define INSTALL_WRITE_FORECAST_H_

#include <vector>

#include "fs/target_directory.h"
#include "kit/kit_records.h"

// Whether an installation into target would write some entry of entries, as InstallJob
// decides entry by entry (each folder opened once, walked from the directory without
// following a link, as the run walks it). Any doubt counts as something to write:
// a target with a problem (empty, relative, unencodable), a path that cannot be encoded or
// lies in the work folder,
// a folder that cannot be opened, and a work folder in the directory (an interrupted run,
// whose rollback changes what is there).
bool SomeEntryNeedsWriting(const TargetDirectory& target, const std::vector<KitEntry>& entries);

#endif  // INSTALL_WRITE_FORECAST_H_
