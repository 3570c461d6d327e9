// Helpers of the installation engine's tests, built on testing/: a recorder of every report
// a channel carries, and stand-ins for the shell's commands that log every call.

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

 private:
  static void Observe(void* context, int32_t code, const WideString& message, int32_t percent);

  ProgressChannel* channel_;
  ProgressObserver also_;
  void* also_context_;
  mutable std::mutex mutex_;
  std::vector<ProgressReport> reports_;
};

// Stand-ins for mkdir, mv and rm first in PATH while the object lives: each call appends
// "<command> <arguments>" to a log and then runs the real program.
class ShellCommandLog {
 public:
  explicit ShellCommandLog(const std::string& directory);
  ShellCommandLog(const ShellCommandLog&) = delete;
  ShellCommandLog& operator=(const ShellCommandLog&) = delete;

  std::vector<std::string> Lines() const;

 private:
  std::string log_path_;
  StandInCommands stand_ins_;
};

// A template directory held open, as a run holds it, for the calls that take its descriptor.
class RootDescriptor {
 public:
  explicit RootDescriptor(const std::string& directory);
  ~RootDescriptor();
  RootDescriptor(const RootDescriptor&) = delete;
  RootDescriptor& operator=(const RootDescriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

#endif  // INSTALL_INSTALL_TEST_SUPPORT_H_
