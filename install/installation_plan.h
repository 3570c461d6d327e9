// What a run would do with each kit entry, found without writing anything (--dry-run): the
// same examination of each destination that InstallJob::Run makes, made on whole paths, as
// no transaction holds the template directory's folders open.

#ifndef INSTALL_INSTALLATION_PLAN_H_
#define INSTALL_INSTALLATION_PLAN_H_

#include <vector>

#include "fs/status.h"
#include "fs/target_directory.h"
#include "install/run_observer.h"
#include "text/wide_string.h"

class DistributionKit;

struct PlannedEntry {
  WideString path;  // the destination
  EntryAction action;
};

// Fills *plan in table order. A path the kit names twice is replaced by its second entry
// when the first writes it. Fails as the run would before writing anything: an entry name
// that cannot be encoded or lies in the work folder, a target with a Problem() (one that
// cannot be encoded, is empty or is relative), or a directory where the kit has a file
// (EISDIR, with *plan holding the entries before it). The destinations are the run's
// progress lines (InstallJob::DestinationPath).
Status PlanInstallation(const DistributionKit& kit, const TargetDirectory& target,
                        std::vector<PlannedEntry>* plan);

#endif  // INSTALL_INSTALLATION_PLAN_H_
