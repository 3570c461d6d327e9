// Opening a kit for one efdtool command (list, verify, extract) exactly as the installer does
// (DistributionKit::Open), and holding back the terminal's signals while a command has
// files of its own to clean up.
//
// While a TerminationSignalsHeld lives, the signals that end a program from the terminal
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) are held back, so an interrupted extract still removes
// the temporary file it is writing in the target folder first (the kit's container needs no
// such care: it has no name); a held signal takes effect once the holder is gone.

#ifndef TOOLS_TOOL_KIT_H_
#define TOOLS_TOOL_KIT_H_

#include <signal.h>

#include <cstdio>

#include "kit/distribution_kit.h"
#include "text/narrow_string.h"

class TerminationSignalsHeld {
 public:
  TerminationSignalsHeld();
  ~TerminationSignalsHeld();
  TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
  TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Opens the kit at kit_path (bytes in the locale's encoding), signed by required_signer when
// that is not null; on failure writes "efdtool COMMAND: KIT is damaged: ..." (or "cannot be
// found", "cannot be opened") with the reason to err and returns false.
bool OpenKitForTool(const NarrowString& kit_path, const char* command, DistributionKit* kit,
                    std::FILE* err, const KitPublicKey* required_signer = nullptr);

#endif  // TOOLS_TOOL_KIT_H_
