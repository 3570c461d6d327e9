#include "install/write_forecast.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "install/install_job.h"
#include "install/journal_format.h"
#include "install/relative_path.h"

bool SomeEntryNeedsWriting(const TargetDirectory& target, const std::vector<KitEntry>& entries) {
  if (target.Problem() != kSuccess) return true;
  const NarrowString& directory = target.Bytes();
  struct stat64 status;
  if (lstat64(WorkFolderPath(directory).CStr(), &status) == 0 || errno != ENOENT) return true;
  const uid_t user = geteuid();
  NarrowString relative, folder_path;
  int folder = -1;
  bool needs_writing = false;
  for (const KitEntry& entry : entries) {
    needs_writing = !entry.path.ToBytes(&relative) || IsInWorkFolder(relative);
    if (needs_writing) break;
    const NarrowString parent = JoinPath(directory, RelativeParent(relative));
    if (folder < 0 || parent.Compare(folder_path) != 0) {
      if (folder >= 0) close(folder);
      folder_path = parent;
      folder = open(parent.CStr(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    needs_writing = folder < 0 || InstallJob::ExamineDestination(folder, NameOf(relative),
                                                                 entry.time, user) !=
                                      InstallJob::Destination::kUpToDate;
    if (needs_writing) break;
  }
  if (folder >= 0) close(folder);
  return needs_writing;
}
