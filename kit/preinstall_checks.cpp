#include "kit/preinstall_checks.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "config/starter_config.h"
#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/read_link.h"
#include "kit/built_in_key.h"
#include "kit/temp_directory.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

namespace {

constexpr uint64_t kSpaceFactor = 3;

// The program's own path as the link names it; false when it cannot be read whole.
bool ReadProgramPath(NarrowString* path) {
  NarrowString target;
  if (ReadLinkAt(AT_FDCWD, "/proc/self/exe", &target) != 0 || target.Empty()) return false;
  *path = target;
  return true;
}

bool ContainsText(const WideString& text, const char16_t* pattern) {
  return text.Find(pattern) != WideString::npos;
}

// Whether directory holds a work folder of an installation (an interrupted one: a finished
// run leaves none).
bool HoldsWorkFolder(const WideString& directory) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(CleanTargetDirectory(directory), &bytes) || bytes.Empty()) return false;
  AppendSlash(&bytes);
  bytes.Append(".t5stp");
  struct stat64 status;
  return lstat64(bytes.CStr(), &status) == 0;
}

// The first usable location, in list order; later ones are not probed. Empty when none is.
// Locations passed over that hold an interrupted installation's work folder are appended to
// *stranded.
WideString FirstUsableLocation(const std::vector<WideString>& locations,
                               std::vector<WideString>* stranded) {
  WideString expanded;
  for (const WideString& location : locations) {
    if (UsableLocation(location, &expanded)) return expanded;
    if (!expanded.Empty() && HoldsWorkFolder(expanded)) stranded->push_back(expanded);
  }
  return WideString();
}

// Whether path names a regular file (symbolic links followed). Anything else at a settings
// path is no settings file, and reading it could wait forever (a FIFO).
bool IsSettingsFile(const WideString& path) {
  NarrowString bytes;
  return ToLocaleBytesExact(path, &bytes) && IsRegularFilePath(bytes.CStr());
}

// Why a path that was looked for is not there: the status query's own error.
Status CauseOfMissingPath(const WideString& path) {
  const NarrowString bytes = ToLocaleBytes(path);
  struct stat64 status;
  if (stat64(bytes.CStr(), &status) != 0) return Status::FromErrno(errno, bytes);
  return Status::Failure(kErrorNotFound, bytes, NarrowString("not found"));
}

}  // namespace

WideString KitPathBesideProgram(const NarrowString& program_path) {
  const std::size_t slash = program_path.FindLastOf("/");
  if (slash == NarrowString::npos) return WideString();
  NarrowString kit_path(program_path, 0, slash);
  kit_path.Append("/");
  kit_path.Append(kKitFileName);
  return FromLocaleBytes(kit_path);
}

WideString FindKitFile(bool use_current_directory) {
  if (use_current_directory) {
    char* directory = getcwd(nullptr, 0);
    if (directory == nullptr) return WideString();
    NarrowString kit_path(directory);
    std::free(directory);
    kit_path.Append("/");
    kit_path.Append(kKitFileName);
    return FromLocaleBytes(kit_path);
  }
  NarrowString program_path;
  if (!ReadProgramPath(&program_path)) return WideString();
  return KitPathBesideProgram(program_path);
}

ErrorCode FileSize(const WideString& path, uint64_t* size) {
  if (size == nullptr) return kErrorSizeUnreadable;
  NarrowString bytes;
  struct stat64 status;
  if (!ToLocaleBytesExact(path, &bytes) || stat64(bytes.CStr(), &status) != 0) {
    return kErrorSizeUnreadable;
  }
  *size = static_cast<uint64_t>(status.st_size);
  return kSuccess;
}

ErrorCode TempFreeSpace(uint64_t* bytes) {
  if (bytes == nullptr) return kErrorInvalidParameter;
  *bytes = 0;
  NarrowString directory;
  struct statvfs64 status;
  if (ToLocaleBytesExact(GetTempDirectory(), &directory) &&
      statvfs64(directory.CStr(), &status) == 0) {
    *bytes = static_cast<uint64_t>(status.f_bfree) * static_cast<uint64_t>(status.f_frsize);
  }
  return kSuccess;
}

bool KitFitsInFreeSpace(uint64_t kit_size, uint64_t free_bytes) {
  // kSpaceFactor * kit_size <= free_bytes, exactly, for whole numbers.
  return kit_size <= free_bytes / kSpaceFactor;
}

WideString CleanTargetDirectory(const WideString& directory) {
  WideString cleaned = directory;
  if (ContainsText(cleaned, u"http://")) cleaned.Clear();
  if (ContainsText(cleaned, u"https://")) cleaned.Clear();
  if (ContainsText(cleaned, u"ftp://")) cleaned.Clear();
  const std::size_t file_scheme = cleaned.Find(u"file://");
  if (file_scheme != WideString::npos) cleaned.Erase(file_scheme, 7);
  UseForwardSlashes(&cleaned);
  cleaned.ReplaceAll(WideString(u"\n"), WideString());
  cleaned.ReplaceAll(WideString(u"\r"), WideString());
  return cleaned;
}

bool UsableLocation(const WideString& location, WideString* expanded) {
  *expanded = ExpandHomeDirectory(location);
  const WideString cleaned = CleanTargetDirectory(*expanded);
  const bool emptied_by_cleaning = cleaned.Empty() && !expanded->Empty();
  if (emptied_by_cleaning) return true;
  if (!IsAbsolutePath(cleaned)) return false;
  // The directory the templates would go to is the cleaned one ("file://" removed), so
  // that is the one asked.
  return ProbeDirectoryWritable(cleaned);
}

NarrowString PreinstallMessageId(PreinstallResult result) {
  switch (result) {
    case PreinstallResult::kKitNotFound:
      return NarrowString("IDS_ERROR_NOSOURCE");
    case PreinstallResult::kNoSpace:
      return NarrowString("IDS_ERROR_NOSPACE");
    case PreinstallResult::kKitDamaged:
    case PreinstallResult::kKitUnreadable:
      return NarrowString("IDS_ERROR_DAMAGEDSOURCE");
    case PreinstallResult::kNoTarget:
      return NarrowString("IDS_ERROR_NOTARGET");
    case PreinstallResult::kReady:
      break;
  }
  return NarrowString();
}

PreinstallResult RunPreinstallSteps(bool use_current_directory,
                                    std::vector<WideString>* template_locations,
                                    PreinstallFindings* findings, DistributionKit* kit,
                                    const PreinstallLook& look) {
  const WideString kit_path = FindKitFile(use_current_directory);
  if (kit_path.Empty()) {
    findings->cause = Status::Failure(kErrorNotFound, NarrowString(),
                                      NarrowString("the program's own folder cannot be found"));
    return PreinstallResult::kKitNotFound;
  }
  if (!PathExists(kit_path)) {
    findings->cause = CauseOfMissingPath(kit_path);
    return PreinstallResult::kKitNotFound;
  }
  findings->kit_path = kit_path;

  if (!IsAbsolutePath(HomeDirectory())) {
    findings->cause = Status::Failure(
        kErrorPathNotFound, ToLocaleBytes(HomeDirectory()),
        NarrowString("the home directory (HOME) is empty or not an absolute path"));
    return PreinstallResult::kNoTarget;
  }

  findings->alternative_file_exists = IsSettingsFile(AltStarterConfigPath());
  if (IsSettingsFile(StarterConfigPath())) {
    GetTemplateLocations(template_locations, false);
  } else if (findings->alternative_file_exists) {
    GetTemplateLocations(template_locations, true);
    findings->locations_from_alternative_file = !template_locations->empty();
  }

  WideString target = FirstUsableLocation(*template_locations, &findings->stranded_work_folders);
  if (target.Empty()) {
    target = ProductDataDirectory();
    target.Append(u"tmplts/");
  }
  findings->target_directory = CleanTargetDirectory(target);
  findings->target = TargetDirectory(findings->target_directory);

  uint64_t kit_size = 0;
  uint64_t free_bytes = 0;
  if (FileSize(kit_path, &kit_size) == kSuccess && TempFreeSpace(&free_bytes) == kSuccess &&
      !KitFitsInFreeSpace(kit_size, free_bytes)) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "the unpacked kit needs three times the kit's %llu bytes; %llu bytes are free",
                  static_cast<unsigned long long>(kit_size),
                  static_cast<unsigned long long>(free_bytes));
    findings->cause = Status::Failure(kErrorDiskFull, ToLocaleBytes(GetTempDirectory()),
                                      NarrowString(detail));
    return PreinstallResult::kNoSpace;
  }

  // A build with a vendor's key takes only kits that key signed.
  KitLook kit_look;
  if (look) {
    kit_look = [&look, target = findings->target](const std::vector<KitEntry>& entries) {
      return look(target, entries);
    };
  }
  const ErrorCode opened = kit->Open(kit_path, BuiltInKitKey(), kit_look);
  const NarrowString kit_bytes = ToLocaleBytes(kit_path);
  // A sound kit that does not fit into what the space check saw is no damaged kit.
  if (opened == kErrorDiskFull) {
    findings->cause = Status::FromErrno(ENOSPC, ToLocaleBytes(GetTempDirectory()));
    return PreinstallResult::kNoSpace;
  }
  if (opened != kSuccess) {
    // A kit that cannot even be opened for reading is not known to be damaged: the system
    // says why it cannot be read.
    const int descriptor = open(kit_bytes.CStr(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) {
      findings->cause = Status::FromErrno(errno, kit_bytes);
      return PreinstallResult::kKitUnreadable;
    }
    close(descriptor);
    findings->cause = Status::Failure(opened, kit_bytes, kit->FailureReason());
    return PreinstallResult::kKitDamaged;
  }
  return PreinstallResult::kReady;
}
