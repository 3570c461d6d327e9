#include "install/installation_plan.h"

#include <errno.h>

#include <string>
#include <unordered_map>

#include "install/install_job.h"
#include "install/relative_path.h"
#include "kit/distribution_kit.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

Status PlanInstallation(const DistributionKit& kit, const TargetDirectory& target,
                        std::vector<PlannedEntry>* plan) {
  plan->clear();
  if (target.Problem() == kErrorInvalidParameter) {
    return Status::Failure(kErrorInvalidParameter, ToLocaleBytes(target.Text()),
                           NarrowString("the directory cannot be encoded in the locale"));
  }
  // The run would begin nowhere: the names are not looked up from the current directory.
  if (target.Problem() != kSuccess) {
    return Status::Failure(target.Problem(), ToLocaleBytes(target.Text()),
                           NarrowString("the directory is empty or not an absolute path"));
  }

  // Every name first, as the run checks them before it writes anything.
  std::vector<NarrowString> relatives(kit.EntryCount());
  for (std::size_t j = 0; j < kit.EntryCount(); ++j) {
    if (!kit.Entry(j).path.ToBytes(&relatives[j]) || IsInWorkFolder(relatives[j])) {
      return Status::Failure(kErrorInvalidParameter, ToLocaleBytes(kit.Entry(j).name),
                             NarrowString("the entry's name cannot be encoded in the locale, "
                                          "or lies in the work folder"));
    }
  }
  // The paths an earlier entry writes, and whether it does.
  std::unordered_map<std::string, bool> written;
  for (std::size_t j = 0; j < kit.EntryCount(); ++j) {
    const KitEntry& entry = kit.Entry(j);
    const std::string key(relatives[j].Data(), relatives[j].Length());
    const WideString destination = InstallJob::DestinationPath(target, entry.path);
    const auto earlier = written.find(key);
    EntryAction action;
    if (earlier != written.end() && earlier->second) {
      action = EntryAction::kReplaced;
    } else {
      switch (InstallJob::ExamineDestination(JoinPath(target.Bytes(), relatives[j]), entry.time)) {
        case InstallJob::Destination::kAbsent:
          action = EntryAction::kNew;
          break;
        case InstallJob::Destination::kUpToDate:
          action = EntryAction::kUpToDate;
          break;
        case InstallJob::Destination::kDirectory:
          return Status::FromErrno(EISDIR, ToLocaleBytes(destination), kErrorInvalidParameter);
        default:
          action = EntryAction::kReplaced;
          break;
      }
    }
    written[key] = written[key] || action != EntryAction::kUpToDate;
    plan->push_back(PlannedEntry{destination, action});
  }
  return Status();
}
