// Helpers of the installation engine's tests, built on testing/: the backup folders a run
// leaves, a recorder of every report a channel carries, and stand-ins for the shell's
// commands that log every call.

#ifndef INSTALL_INSTALL_TEST_SUPPORT_H_
#define INSTALL_INSTALL_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "install/progress_channel.h"
#include "testing/scratch_directory.h"
#include "testing/stand_in_commands.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"
#include "text/wide_string.h"

// The names in directory that start with "t5stp" (what a backup directory is called),
// sorted. Throws std::runtime_error when the directory cannot be read, so that a failed
// listing never passes for "no backups left".
std::vector<std::string> BackupNamesIn(const std::string& directory);

// Records every report posted to a channel, from whatever thread posts.
class PostRecorder {
 public:
  // also, when given, sees every report after the recorder, on the posting thread.
  explicit PostRecorder(ProgressChannel* channel, ProgressObserver also = nullptr,
                        void* also_context = nullptr);
  ~PostRecorder();
  PostRecorder(const PostRecorder&) = delete;
  PostRecorder& operator=(const PostRecorder&) = delete;

  std::vector<ProgressReport> Reports() const;
  // Reports with the given percent so far.
  std::size_t CountWithPercent(int32_t percent) const;
  void Clear();

 private:
  static void Observe(void* context, int32_t code, const WideString& message, int32_t percent);

  ProgressChannel* channel_;
  ProgressObserver also_;
  void* also_context_;
  mutable std::mutex mutex_;
  std::vector<ProgressReport> reports_;
};

// Stand-ins for mkdir, mv and rm first in PATH while the object lives: each call appends
// "<command> <arguments>" to a log and then runs the real program, unless its arguments
// contain the failing text given for that command, in which case it exits with status 1
// without doing anything.
class ShellCommandLog {
 public:
  explicit ShellCommandLog(const std::string& directory, const std::string& fail_mkdir = "",
                           const std::string& fail_mv = "");
  ShellCommandLog(const ShellCommandLog&) = delete;
  ShellCommandLog& operator=(const ShellCommandLog&) = delete;

  std::vector<std::string> Lines() const;
  // Lines that start with command + " ".
  std::size_t Count(const std::string& command) const;
  void Clear();

 private:
  std::string log_path_;
  StandInCommands stand_ins_;
};

#endif  // INSTALL_INSTALL_TEST_SUPPORT_H_
