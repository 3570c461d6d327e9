#include "fs/move_path.h"

#include <errno.h>
#include <stdio.h>

#include "fs/file_layer.h"
#include "fs/shell_commands.h"
#include "text/locale_conversions.h"

ErrorCode MovePath(const WideString& from, const WideString& to, bool* ran_shell) {
  if (ran_shell != nullptr) *ran_shell = false;
  NarrowString from_bytes;
  NarrowString to_bytes;
  if (!ToLocaleBytesExact(from, &from_bytes) || !ToLocaleBytesExact(to, &to_bytes)) {
    return ErrorCodeFromErrno(EILSEQ);
  }
  if (rename(from_bytes.CStr(), to_bytes.CStr()) == 0) return kSuccess;
  const int error = errno;
  if (error != EXDEV) return ErrorCodeFromErrno(error);
  if (ran_shell != nullptr) *ran_shell = true;
  return ShellMove(from, to);
}
