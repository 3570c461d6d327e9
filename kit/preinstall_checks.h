// The checks made before any window is shown: find the kit "tavlo5.efd", choose the default
// template directory from the launcher's settings, make sure the temporary directory has room
// for the unpacked kit, and open the kit.
//
// Order (each step runs only when the one before it passed):
//   1. the kit path (next to the program, or in the current directory with "usecwd") must
//      name something that exists, else kKitNotFound and nothing else is examined;
//   2. the home directory must be an absolute path, else kNoTarget: every per-user path
//      (the settings, the default directory) would start at the root or in the current
//      directory;
//   3. the settings are read: the user file when it is a regular file, else the alternative
//      file when it is one (anything else at a settings path, such as a FIFO, counts as
//      absent and is never opened); the first location, in list order, that is usable
//      (see UsableLocation) becomes the target directory, else the default
//      ~/.tavlo5/Tavlo/tavlo5/tmplts/; then the target is cleaned (see
//      CleanTargetDirectory);
//   4. three times the kit's size must fit into the free space of the temporary directory's
//      file system, else kNoSpace and the kit is not opened (a kit size that cannot be read
//      skips this step; free space that cannot be read counts as none, see TempFreeSpace);
//   5. the kit is opened (signed by the built-in key, in a build that has one:
//      kit/built_in_key.h), else kKitDamaged (whatever code Open gave, except a full disk
//      while the container is written, which is kNoSpace, and a kit file that this process
//      cannot open for reading, which is kKitUnreadable).
// Every failure leaves its cause in the findings: the path and the system's reason, or the
// kit's record and field at fault as DistributionKit::FailureReason says it.
// Missing or unreadable settings files are no failure.
//
// Sizes are compared as 64-bit values, so a kit of any size is judged by its real size and
// the real free space (no 32-bit wrap-around).

#ifndef KIT_PREINSTALL_CHECKS_H_
#define KIT_PREINSTALL_CHECKS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/error_codes.h"
#include "fs/status.h"
#include "fs/target_directory.h"
#include "kit/distribution_kit.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// The kit's file name, looked for next to the program or in the current directory.
constexpr const char* kKitFileName = "tavlo5.efd";

// The kit's full path: with use_current_directory the current working directory + "/" +
// kKitFileName; otherwise the directory of the running program (read from the link
// "/proc/self/exe") + "/" + kKitFileName. Empty when the directory cannot be determined.
// The link is read whole, however long the program's path is.
WideString FindKitFile(bool use_current_directory);

// The kit path beside the program whose path is program_path: the bytes before its last
// "/", then "/" and kKitFileName, decoded with FromLocaleBytes. Empty when program_path holds
// no "/".
WideString KitPathBesideProgram(const NarrowString& program_path);

// The file's size from a status query of path (symbolic links followed): 0 and *size, or
// kErrorSizeUnreadable (1) when the query fails or size is null.
ErrorCode FileSize(const WideString& path, uint64_t* size);

// The bytes free (also to the superuser) on the file system that holds GetTempDirectory():
// kErrorInvalidParameter (87) when bytes is null; otherwise 0, with *bytes = 0 when the file
// system cannot be queried (so that any non-empty kit then fails the space check).
ErrorCode TempFreeSpace(uint64_t* bytes);

// Whether a kit of kit_size bytes may be unpacked: 3 x kit_size <= free_bytes, computed
// without overflow.
bool KitFitsInFreeSpace(uint64_t kit_size, uint64_t free_bytes);

// The target directory as offered to the user, each rule applied once, in this order, with
// exact matching anywhere in the text: "http://", "https://" or "ftp://" make it empty; the
// first "file://" is removed; every "\" becomes "/"; every line feed and every carriage
// return is removed.
WideString CleanTargetDirectory(const WideString& directory);

// Whether a template location from the settings can become the target directory, and the
// directory it stands for in *expanded: the location with "~" and "~/..." expanded to the
// home directory (ExpandHomeDirectory). Not usable: a location that is relative once
// cleaned (CleanTargetDirectory; "~user/...", "tmpl", "C:/tmpl"), one whose path cannot be
// encoded, and one whose cleaned path fails the writability probe (ProbeDirectoryWritable:
// a missing directory is usable only where it could be made). A location that cleaning
// empties (a web address) stays usable without a probe, and gives an empty target.
bool UsableLocation(const WideString& location, WideString* expanded);

enum class PreinstallResult {
  kReady,
  kKitNotFound,  // IDS_ERROR_NOSOURCE
  kNoSpace,      // IDS_ERROR_NOSPACE
  kKitDamaged,   // IDS_ERROR_DAMAGEDSOURCE
  kNoTarget,     // IDS_ERROR_NOTARGET: the home directory is empty or relative
  // The kit file exists but cannot be opened for reading (no permission, for one). The
  // message box says IDS_ERROR_DAMAGEDSOURCE; standard error says kUnreadableKitText.
  kKitUnreadable,
};

// The identifier of the text that reports result; empty for kReady.
NarrowString PreinstallMessageId(PreinstallResult result);

// What standard error says of a kit that cannot be read, instead of calling it damaged.
constexpr const char* kUnreadableKitText = "Distribution kit file tavlo5.efd cannot be read.";

// What the checks found, for the installer dialog.
struct PreinstallFindings {
  WideString kit_path;
  // The alternative settings file (AltStarterConfigPath) exists.
  bool alternative_file_exists = false;
  // The user settings file is missing and the alternative file listed at least one location.
  bool locations_from_alternative_file = false;
  // The cleaned default target directory; empty when cleaning emptied it.
  WideString target_directory;
  // target_directory as the run takes it.
  TargetDirectory target;
  // Listed locations passed over (not writable) that hold an interrupted installation's
  // work folder: what it keeps stays there, and the user must hear where.
  std::vector<WideString> stranded_work_folders;
  // Why the step that failed failed; success on kReady.
  Status cause;
};

// A forecast for the kit's opening (DistributionKit::Open): given the target directory the
// checks chose (findings->target) and the file table, true when some entry would be
// written.
using PreinstallLook =
    std::function<bool(const TargetDirectory& target, const std::vector<KitEntry>& entries)>;

// Runs the five steps above. Locations read from the settings are appended to
// *template_locations; *findings receives what was found up to the step that failed; on
// kReady *kit is open. look, when given, is the kit's look at its file table (step 5).
PreinstallResult RunPreinstallSteps(bool use_current_directory,
                                    std::vector<WideString>* template_locations,
                                    PreinstallFindings* findings, DistributionKit* kit,
                                    const PreinstallLook& look = PreinstallLook());

#endif  // KIT_PREINSTALL_CHECKS_H_
