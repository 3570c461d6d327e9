// Helpers for the installation engine's tests and benchmark: a scratch root that also serves
// as the temporary directory, kits built from files in memory, snapshots of whole trees
// (kinds, bytes, link targets, modification times to the nanosecond), a recorder of every
// report a channel carries, and stand-ins for the shell's commands that log every call.

#ifndef INSTALL_INSTALL_TEST_SUPPORT_H_
#define INSTALL_INSTALL_TEST_SUPPORT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "fs/environment_override.h"
#include "fs/file_layer.h"
#include "install/progress_channel.h"
#include "kit/distribution_kit.h"
#include "fs/scratch_directory.h"
#include "text/wide_string.h"

// A fresh directory under the temporary directory in force when it is made, with a "tmp"
// subdirectory that TMPDIR names while the object lives. Everything is removed, and TMPDIR
// restored, on destruction.
class InstallScratch {
 public:
  InstallScratch();
  ~InstallScratch();
  InstallScratch(const InstallScratch&) = delete;
  InstallScratch& operator=(const InstallScratch&) = delete;

  // root/name.
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  WideString Wide(const std::string& name) const;
  // root/tmp (what TMPDIR names), without a trailing "/".
  std::string TempDirectory() const { return root_ + "/tmp"; }
  // BackupNamesIn(TempDirectory()).
  std::vector<std::string> BackupNames() const;

 private:
  std::string root_;
  std::unique_ptr<EnvironmentOverride> tmpdir_;
};

// The names in directory that start with "t5stp" (what a backup directory is called),
// sorted. Throws std::runtime_error when the directory cannot be read, so that a failed
// listing never passes for "no backups left".
std::vector<std::string> BackupNamesIn(const std::string& directory);

// Makes English the language of LoadText (the reports carry its texts).
void UseEnglishTexts();

std::string AsciiOf(const WideString& text);

// The file time of whole system seconds, plus nanoseconds (kept to 100 ns).
FileTime TimeOf(int64_t seconds, long nanoseconds = 0);

// Makes the directory and its missing parents; false on failure.
bool MakeDirectories(const std::string& path);
// Writes bytes to path (made or emptied), then sets its modification time; false on
// failure.
bool WriteFileAt(const std::string& path, const std::string& bytes, int64_t seconds,
                 long nanoseconds = 0);
// Sets the access and modification time of path itself (not following a link).
bool SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds = 0);
// lstat's modification seconds, or -1.
int64_t ModificationSeconds(const std::string& path);

// Sets or clears the immutable attribute of a file or directory (nothing, not even root,
// can then change, move, remove it or add to it); false when the file system or the
// process's privileges do not allow it. Tests use it to make a system call fail for root.
bool SetImmutable(const std::string& path, bool immutable);

// Clears the immutable attribute of a path when it goes out of scope, so that a failing
// test leaves nothing its scratch directory cannot remove.
class ImmutableGuard {
 public:
  explicit ImmutableGuard(std::string path) : path_(std::move(path)) {}
  ~ImmutableGuard() { SetImmutable(path_, false); }
  ImmutableGuard(const ImmutableGuard&) = delete;
  ImmutableGuard& operator=(const ImmutableGuard&) = delete;

 private:
  std::string path_;
};

// One kit entry.
struct KitFile {
  std::string name;  // as stored (may use "\")
  FileTime time;
  std::string bytes;
};

// Writes the kit to kit_path and opens it into kit. 0 or the failing code.
ErrorCode MakeKit(const std::string& kit_path, const std::vector<KitFile>& files,
                  DistributionKit* kit);

// One node of a tree as a snapshot sees it.
struct NodeState {
  char kind;             // 'f' regular file, 'd' directory, 'l' link, '?' other
  std::string contents;  // file bytes or link target
  int64_t modified_seconds;
  long modified_nanoseconds;
  bool operator==(const NodeState& other) const;
};
// Relative path ("." for the root itself) to state; empty when nothing exists at root.
using TreeState = std::map<std::string, NodeState>;
TreeState SnapshotTree(const std::string& root);
// What differs, one line per path; empty when the snapshots are equal.
std::string DescribeDifferences(const TreeState& before, const TreeState& after);

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
  ~ShellCommandLog();
  ShellCommandLog(const ShellCommandLog&) = delete;
  ShellCommandLog& operator=(const ShellCommandLog&) = delete;

  std::vector<std::string> Lines() const;
  // Lines that start with command + " ".
  std::size_t Count(const std::string& command) const;
  void Clear();

 private:
  std::string log_path_;
  std::unique_ptr<EnvironmentOverride> path_;
};

#endif  // INSTALL_INSTALL_TEST_SUPPORT_H_
