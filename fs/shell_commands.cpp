#include "fs/shell_commands.h"

#include <sys/wait.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fs/temp_file.h"
#include "text/locale_conversions.h"

namespace {

// The command lines. Each "<...>" between double quotes stands for one path, filled in
// order; QuoteShellPath supplies the quotes and the escaping.
constexpr char kMakeDirectoryCommand[] = "mkdir -p \"<path>\" 2>/dev/null";
constexpr char kRemoveTreeCommand[] = "rm -rf \"<path>\" 2>/dev/null";
constexpr char kMoveCommand[] = "mv \"<from>\" \"<to>\" 2>/dev/null";
constexpr char kRemoveFileCommand[] = "rm -f \"<path>\"";

// The characters the shell still interprets between double quotes.
constexpr char kEscapedInQuotes[] = "\"\\$`";

// The template with each quoted placeholder replaced by the next path, quoted; false when
// a path cannot be encoded.
bool BuildCommand(const char* command_template, std::initializer_list<const WideString*> paths,
                  NarrowString* command) {
  const WideString* const* next_path = paths.begin();
  for (const char* p = command_template; *p != '\0';) {
    const char* placeholder_end = nullptr;
    if (p[0] == '"' && p[1] == '<') placeholder_end = std::strstr(p, ">\"");
    if (placeholder_end != nullptr && next_path != paths.end()) {
      NarrowString bytes;
      if (!ToLocaleBytesExact(**next_path, &bytes)) return false;
      command->Append(QuoteShellPath(bytes));
      ++next_path;
      p = placeholder_end + 2;
    } else {
      command->Append(*p);
      ++p;
    }
  }
  return true;
}

// The exit status a command is given when one of its paths cannot be encoded: it does not
// run, and counts as a command that failed (mv's status for a missing source excepted).
constexpr int kUnencodablePathStatus = 2;

// The command's exit status, or -1 when the shell did not run or the command was ended by a
// signal (an interrupted command did not do its work).
int RunForExitStatus(const char* command_template,
                     std::initializer_list<const WideString*> paths) {
  NarrowString command;
  if (!BuildCommand(command_template, paths, &command)) return kUnencodablePathStatus;
  const int status = std::system(command.CStr());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 0 for exit status 0, 87 when the command did not run to its end, else failure_code.
ErrorCode CodeForExitStatus(int exit_status, ErrorCode failure_code) {
  if (exit_status < 0) return kErrorInvalidParameter;
  return exit_status == 0 ? kSuccess : failure_code;
}

}  // namespace

NarrowString QuoteShellPath(const NarrowString& path) {
  NarrowString quoted;
  quoted.Append('"');
  for (char byte : path) {
    if (byte != '\0' && std::strchr(kEscapedInQuotes, byte) != nullptr) quoted.Append('\\');
    quoted.Append(byte);
  }
  quoted.Append('"');
  return quoted;
}

ErrorCode ShellMakeDirectory(const WideString& path) {
  return CodeForExitStatus(RunForExitStatus(kMakeDirectoryCommand, {&path}), kErrorNotFound);
}

ErrorCode ShellRemoveTree(const WideString& path) {
  return CodeForExitStatus(RunForExitStatus(kRemoveTreeCommand, {&path}), kErrorNotFound);
}

ErrorCode ShellMove(const WideString& from, const WideString& to) {
  const int exit_status = RunForExitStatus(kMoveCommand, {&from, &to});
  // mv exits with 1 when the source is missing; any other failure must not pass for a move.
  if (exit_status == 1) return kErrorNotFound;
  return CodeForExitStatus(exit_status, kErrorInvalidParameter);
}

ErrorCode ShellRemoveFile(const WideString& path) {
  return CodeForExitStatus(RunForExitStatus(kRemoveFileCommand, {&path}), kErrorNotFound);
}

ErrorCode ShellCreateTempFile(const WideString& directory, const WideString& prefix,
                              WideString* out_path) {
  NarrowString directory_bytes;
  NarrowString prefix_bytes;
  if (!ToLocaleBytesExact(directory, &directory_bytes) ||
      !ToLocaleBytesExact(prefix, &prefix_bytes)) {
    if (out_path != nullptr) out_path->Clear();
    return kErrorCannotWrite;
  }
  NarrowString path;
  const ErrorCode code = CreateTempFile(directory_bytes, prefix_bytes, &path);
  if (out_path != nullptr) *out_path = FromLocaleBytes(path);
  return code;
}

void ShellRun(const NarrowString& command) {
  const int ignored = std::system(command.CStr());
  (void)ignored;
}
