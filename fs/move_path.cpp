#include "fs/move_path.h"

#include <errno.h>
#include <stdio.h>

#include "fs/file_layer.h"
#include "fs/shell_commands.h"
#include "text/locale_conversions.h"

ErrorCode MovePath(const WideString& from, const WideString& to, bool* ran_shell) {
  if (ran_shell != nullptr) *ran_shell = false;
  if (rename(ToLocaleBytes(from).CStr(), ToLocaleBytes(to).CStr()) == 0) return kSuccess;
  const int error = errno;
  if (error != EXDEV) return ErrorCodeFromErrno(error);
  if (ran_shell != nullptr) *ran_shell = true;
  return ShellMove(from, to);
}
