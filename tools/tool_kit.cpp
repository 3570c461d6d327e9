#include "tools/tool_kit.h"

#include "tools/locale_text.h"

TerminationSignalsHeld::TerminationSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, signal_number);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

TerminationSignalsHeld::~TerminationSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

bool OpenKitForTool(const NarrowString& kit_path, const char* command, DistributionKit* kit,
                    std::FILE* err, const KitPublicKey* required_signer) {
  WideString path;
  if (!WideFromLocaleExactly(kit_path, &path)) {
    std::fprintf(err, "efdtool %s: \"%s\" is not valid text in the locale's encoding\n", command,
                 kit_path.CStr());
    return false;
  }
  const ErrorCode code = kit->Open(path, required_signer);
  if (code == kSuccess) return true;
  const char* kind = code == kErrorNotFound      ? "cannot be found"
                     : code == kErrorInvalidData ? "is damaged"
                                                 : "cannot be opened";
  std::fprintf(err, "efdtool %s: %s %s: %s\n", command, kit_path.CStr(), kind,
               kit->FailureReason().CStr());
  return false;
}
