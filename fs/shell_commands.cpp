#include "fs/shell_commands.h"

#include <sys/wait.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "fs/temp_file.h"
#include "text/locale_conversions.h"

namespace {

// The command lines. "<path>" between double quotes stands for the path; QuoteShellPath
// supplies the quotes and the escaping.
constexpr char kMakeDirectoryCommand[] = "mkdir -p \"<path>\" 2>/dev/null";
constexpr char kRemoveFileCommand[] = "rm -f \"<path>\"";
constexpr char kPathPlaceholder[] = "\"<path>\"";

// The characters the shell still interprets between double quotes.
constexpr char kEscapedInQuotes[] = "\"\\$`";

// The template with its placeholder replaced by path, quoted; false when path cannot be
// encoded.
bool BuildCommand(const char* command_template, const WideString& path, NarrowString* command) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return false;
  const char* placeholder = std::strstr(command_template, kPathPlaceholder);
  command->Append(command_template, static_cast<std::size_t>(placeholder - command_template));
  command->Append(QuoteShellPath(bytes));
  command->Append(placeholder + std::strlen(kPathPlaceholder));
  return true;
}

// The exit status a command is given when its path cannot be encoded: it does not run, and
// counts as a command that failed.
constexpr int kUnencodablePathStatus = 2;

// The command's exit status, or -1 when the shell did not run or the command was ended by a
// signal (an interrupted command did not do its work).
int RunForExitStatus(const char* command_template, const WideString& path) {
  NarrowString command;
  if (!BuildCommand(command_template, path, &command)) return kUnencodablePathStatus;
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
  return CodeForExitStatus(RunForExitStatus(kMakeDirectoryCommand, path), kErrorNotFound);
}

ErrorCode ShellRemoveFile(const WideString& path) {
  return CodeForExitStatus(RunForExitStatus(kRemoveFileCommand, path), kErrorNotFound);
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
