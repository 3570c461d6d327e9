#include "tools/inspect_commands.h"

#include <signal.h>

#include <cinttypes>

#include "kit/distribution_kit.h"
#include "text/locale_conversions.h"
#include "tools/file_time_text.h"
#include "tools/locale_text.h"

// Holds back the terminating signals for its lifetime (see the header).
class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal_number);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~TerminationSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Opens the kit; on failure reports why and returns false.
static bool OpenKit(const NarrowString& kit_path, const char* command, DistributionKit* kit,
                    std::FILE* err) {
  WideString path;
  if (!WideFromLocaleExactly(kit_path, &path)) {
    std::fprintf(err, "efdtool %s: \"%s\" is not valid text in the locale's encoding\n", command,
                 kit_path.CStr());
    return false;
  }
  const ErrorCode code = kit->Open(path);
  if (code == kSuccess) return true;
  const char* kind = code == kErrorNotFound      ? "cannot be found"
                     : code == kErrorInvalidData ? "is damaged"
                                                 : "cannot be opened";
  std::fprintf(err, "efdtool %s: %s %s: %s (code %" PRIu32 ")\n", command, kit_path.CStr(), kind,
               kit->FailureReason().CStr(), code);
  return false;
}

static uint64_t DataBytes(const DistributionKit& kit) {
  uint64_t bytes = 0;
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) bytes += kit.Entry(i).size;
  return bytes;
}

static void PrintDescriptions(const DistributionKit& kit, std::FILE* out) {
  for (std::size_t i = 0; i < kit.DescriptionCount(); ++i) {
    const KitInfo& info = kit.Description(i);
    std::fprintf(out, "description [%s] product \"%s\" vendor \"%s\" document \"%s\"\n",
                 ToLocaleBytes(info.language).CStr(), ToLocaleBytes(info.product).CStr(),
                 ToLocaleBytes(info.vendor).CStr(), ToLocaleBytes(info.description).CStr());
  }
}

int RunList(const NarrowString& kit_path, std::FILE* out, std::FILE* err) {
  TerminationSignalsHeld held;
  DistributionKit kit;
  if (!OpenKit(kit_path, "list", &kit, err)) return 1;
  PrintDescriptions(kit, out);
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) {
    const KitEntry& entry = kit.Entry(i);
    std::fprintf(out, "%12" PRIu32 "  %s  %s\n", entry.size, FormatFileTimeUtc(entry.time).CStr(),
                 ToLocaleBytes(entry.name).CStr());
  }
  std::fprintf(out, "%zu %s, %" PRIu64 " bytes\n", kit.EntryCount(),
               kit.EntryCount() == 1 ? "entry" : "entries", DataBytes(kit));
  kit.DiscardContainer();
  return 0;
}

int RunVerify(const NarrowString& kit_path, std::FILE* out, std::FILE* err) {
  TerminationSignalsHeld held;
  DistributionKit kit;
  if (!OpenKit(kit_path, "verify", &kit, err)) return 1;
  std::fprintf(out, "%s is sound: %zu %s, %zu %s, %" PRIu64 " bytes\n", kit_path.CStr(),
               kit.DescriptionCount(), kit.DescriptionCount() == 1 ? "description" : "descriptions",
               kit.EntryCount(), kit.EntryCount() == 1 ? "entry" : "entries", DataBytes(kit));
  kit.DiscardContainer();
  return 0;
}
