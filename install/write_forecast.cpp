#include "install/write_forecast.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/beneath.h"
#include "install/install_job.h"
#include "install/journal_format.h"
#include "install/relative_path.h"
#include "text/path_slashes.h"

bool SomeEntryNeedsWriting(const TargetDirectory& target, const std::vector<KitEntry>& entries) {
  if (target.Problem() != kSuccess) return true;
  const NarrowString& directory = target.Bytes();
  struct stat64 status;
  if (lstat64(WorkFolderPath(directory).CStr(), &status) == 0 || errno != ENOENT) return true;
  // The directory and its folders are walked as the run walks them, no link followed.
  ScopedDescriptor root(OpenRootDirectory(WithoutTrailingSlashes(directory).CStr()));
  if (root.get() < 0) return true;
  const uid_t user = geteuid();
  NarrowString relative, folder_path;
  int folder = -1;
  bool needs_writing = false;
  for (const KitEntry& entry : entries) {
    needs_writing = !entry.path.ToBytes(&relative) || IsInWorkFolder(relative);
    if (needs_writing) break;
    const NarrowString parent = RelativeParent(relative);
    if (folder < 0 || parent.Compare(folder_path) != 0) {
      if (folder >= 0) close(folder);
      folder_path = parent;
      folder = OpenFolderBeneath(root.get(), parent, O_PATH);
    }
    needs_writing = folder < 0 || InstallJob::ExamineDestination(folder, NameOf(relative),
                                                                 entry.time, user) !=
                                      InstallJob::Destination::kUpToDate;
    if (needs_writing) break;
  }
  if (folder >= 0) close(folder);
  return needs_writing;
}
