#include "install/install_test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "app/string_table.h"
#include "kit/kit_writer.h"

InstallScratch::InstallScratch() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/install_test_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = buffer.data();
  if (mkdir(TempDirectory().c_str(), 0755) != 0) throw std::runtime_error("mkdir tmp failed");
  tmpdir_.reset(new EnvironmentOverride("TMPDIR", TempDirectory().c_str()));
}

InstallScratch::~InstallScratch() {
  tmpdir_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

WideString InstallScratch::Wide(const std::string& name) const { return WideFromAscii(Path(name)); }

std::vector<std::string> InstallScratch::BackupNames() const {
  return BackupNamesIn(TempDirectory());
}

std::vector<std::string> BackupNamesIn(const std::string& directory) {
  std::vector<std::string> names;
  DIR* stream = opendir(directory.c_str());
  if (stream == nullptr) throw std::runtime_error("cannot list " + directory);
  for (const dirent64* entry = readdir64(stream); entry != nullptr; entry = readdir64(stream)) {
    if (std::strncmp(entry->d_name, "t5stp", 5) == 0) names.push_back(entry->d_name);
  }
  closedir(stream);
  std::sort(names.begin(), names.end());
  return names;
}

void UseEnglishTexts() { SetCurrentLanguage(FindLanguage(NarrowString("en"))); }

std::string AsciiOf(const WideString& text) {
  std::string ascii;
  for (char16_t unit : text) ascii.push_back(static_cast<char>(unit));
  return ascii;
}

FileTime TimeOf(int64_t seconds, long nanoseconds) {
  return FileTimeFromValue(FileTimeValue(FileTimeFromSystemSeconds(seconds)) +
                           static_cast<uint64_t>(nanoseconds / 100));
}

bool MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return !error;
}

bool SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool WriteFileAt(const std::string& path, const std::string& bytes, int64_t seconds,
                 long nanoseconds) {
  return WriteWholeFile(path, bytes) && SetModificationTime(path, seconds, nanoseconds);
}

int64_t ModificationSeconds(const std::string& path) {
  struct stat64 status;
  if (lstat64(path.c_str(), &status) != 0) return -1;
  return status.st_mtim.tv_sec;
}

bool SetImmutable(const std::string& path, bool immutable) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return false;
  int flags = 0;
  bool done = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(descriptor);
  return done;
}

ErrorCode MakeKit(const std::string& kit_path, const std::vector<KitFile>& files,
                  DistributionKit* kit) {
  KitWriter writer;
  writer.AddDescription(KitInfo{WideString(u"en"), WideString(u"Product"),
                                WideString(u"Vendor"), WideString(u"readme.htm")});
  for (const KitFile& file : files) {
    const ErrorCode code = writer.AddEntry(
        WideFromAscii(file.name), file.time, std::vector<unsigned char>(file.bytes.begin(), file.bytes.end()));
    if (code != kSuccess) return code;
  }
  writer.SetCompressionLevel(1);
  const ErrorCode code = writer.WriteKit(WideFromAscii(kit_path));
  if (code != kSuccess) return code;
  return kit->Open(WideFromAscii(kit_path));
}

bool NodeState::operator==(const NodeState& other) const {
  return kind == other.kind && contents == other.contents &&
         modified_seconds == other.modified_seconds &&
         modified_nanoseconds == other.modified_nanoseconds;
}

static void SnapshotInto(const std::string& path, const std::string& relative, TreeState* tree) {
  struct stat64 status;
  if (lstat64(path.c_str(), &status) != 0) return;
  NodeState node{'?', std::string(), status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
  if (S_ISREG(status.st_mode)) {
    node.kind = 'f';
    node.contents = ReadWholeFile(path);
  } else if (S_ISLNK(status.st_mode)) {
    node.kind = 'l';
    std::vector<char> target(4096);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length > 0) node.contents.assign(target.data(), static_cast<std::size_t>(length));
  } else if (S_ISDIR(status.st_mode)) {
    node.kind = 'd';
  }
  (*tree)[relative] = node;
  if (node.kind != 'd') return;
  DIR* stream = opendir(path.c_str());
  if (stream == nullptr) return;
  std::vector<std::string> names;
  for (const dirent64* entry = readdir64(stream); entry != nullptr; entry = readdir64(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  closedir(stream);
  for (const std::string& name : names) {
    SnapshotInto(path + "/" + name, relative == "." ? name : relative + "/" + name, tree);
  }
}

TreeState SnapshotTree(const std::string& root) {
  TreeState tree;
  SnapshotInto(root, ".", &tree);
  return tree;
}

static std::string Describe(const NodeState& node) {
  std::ostringstream text;
  text << node.kind << " " << node.contents.size() << " bytes, time " << node.modified_seconds
       << "." << node.modified_nanoseconds;
  return text.str();
}

std::string DescribeDifferences(const TreeState& before, const TreeState& after) {
  std::ostringstream text;
  for (const auto& [path, node] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      text << path << ": gone (was " << Describe(node) << ")\n";
    } else if (!(found->second == node)) {
      text << path << ": " << Describe(node) << " became " << Describe(found->second)
           << (found->second.contents != node.contents ? " (contents differ)" : "") << "\n";
    }
  }
  for (const auto& [path, node] : after) {
    if (before.count(path) == 0) text << path << ": new (" << Describe(node) << ")\n";
  }
  return text.str();
}

PostRecorder::PostRecorder(ProgressChannel* channel, ProgressObserver also, void* also_context)
    : channel_(channel), also_(also), also_context_(also_context) {
  channel_->SetObserver(&PostRecorder::Observe, this);
}

PostRecorder::~PostRecorder() { channel_->SetObserver(nullptr, nullptr); }

void PostRecorder::Observe(void* context, int32_t code, const WideString& message,
                           int32_t percent) {
  PostRecorder* recorder = static_cast<PostRecorder*>(context);
  {
    std::lock_guard<std::mutex> hold(recorder->mutex_);
    recorder->reports_.push_back(ProgressReport{code, message, percent});
  }
  if (recorder->also_ != nullptr) recorder->also_(recorder->also_context_, code, message, percent);
}

std::vector<ProgressReport> PostRecorder::Reports() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return reports_;
}

std::size_t PostRecorder::CountWithPercent(int32_t percent) const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::size_t count = 0;
  for (const ProgressReport& report : reports_) count += report.percent == percent ? 1 : 0;
  return count;
}

void PostRecorder::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  reports_.clear();
}

// The real program behind a stand-in.
static std::string RealProgram(const std::string& name) {
  for (const char* directory : {"/usr/bin/", "/bin/"}) {
    const std::string path = directory + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  throw std::runtime_error("no " + name);
}

static void WriteStandIn(const std::string& directory, const std::string& name,
                         const std::string& log_path, const std::string& failing_text) {
  const std::string path = directory + "/" + name;
  std::ofstream script(path, std::ios::trunc);
  script << "#!/bin/sh\n"
         << "printf '%s\\n' \"" << name << " $*\" >> '" << log_path << "'\n";
  if (!failing_text.empty()) {
    script << "case \"$*\" in *'" << failing_text << "'*) exit 1;; esac\n";
  }
  script << "exec " << RealProgram(name) << " \"$@\"\n";
  script.close();
  chmod(path.c_str(), 0755);
}

ShellCommandLog::ShellCommandLog(const std::string& directory, const std::string& fail_mkdir,
                                 const std::string& fail_mv)
    : log_path_(directory + "/shell.log") {
  const std::string bin = directory + "/stand-ins";
  MakeDirectories(bin);
  WriteStandIn(bin, "mkdir", log_path_, fail_mkdir);
  WriteStandIn(bin, "mv", log_path_, fail_mv);
  WriteStandIn(bin, "rm", log_path_, "");
  const char* old_path = getenv("PATH");
  const std::string path = bin + ":" + (old_path != nullptr ? old_path : "/usr/bin:/bin");
  path_.reset(new EnvironmentOverride("PATH", path.c_str()));
  Clear();
}

ShellCommandLog::~ShellCommandLog() { path_.reset(); }

std::vector<std::string> ShellCommandLog::Lines() const {
  std::vector<std::string> lines;
  std::ifstream in(log_path_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t ShellCommandLog::Count(const std::string& command) const {
  std::size_t count = 0;
  for (const std::string& line : Lines()) count += line.rfind(command + " ", 0) == 0 ? 1 : 0;
  return count;
}

void ShellCommandLog::Clear() { std::ofstream truncate(log_path_, std::ios::trunc); }
