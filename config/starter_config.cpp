#include "config/starter_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <exception>
#include <string>

#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/make_directory.h"
#include "fs/temp_file.h"
#include "text/key_value_file.h"
#include "text/locale_conversions.h"

namespace {

const char16_t kLocationKey[] = u"ConfigurationTemplatesLocation";
constexpr int kLinkDepthLimit = 40;
constexpr int kNewFileAttempts = 100;

bool IsLocationKey(const WideString& key) {
  return CompareNoCase(key, WideString(kLocationKey)) == 0;
}

// Everything before the last "/" or "\"; empty when there is neither.
WideString DirectoryPart(const WideString& path) {
  WideString::size_type at = path.FindLastOf(u"/\\");
  return at == WideString::npos ? WideString() : WideString(path, 0, at);
}

NarrowString ByteDirectoryPart(const NarrowString& path) {
  NarrowString::size_type at = path.FindLastOf("/");
  if (at == NarrowString::npos) return NarrowString(".");
  return at == 0 ? NarrowString("/") : NarrowString(path, 0, at);
}

// The file that a write of path replaces: path itself, or the file its chain of symbolic
// links ends at (which need not exist yet).
NarrowString FollowLinks(NarrowString path) {
  for (int depth = 0; depth < kLinkDepthLimit; ++depth) {
    NodeKind kind = NodeKind::kNothing;
    if (QueryNode(path.CStr(), &kind) != kSuccess || kind != NodeKind::kSymbolicLink) return path;
    char target[PATH_MAX];
    ssize_t n = readlink(path.CStr(), target, sizeof target);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) return path;
    NarrowString next(target, static_cast<std::size_t>(n));
    if (next[0] != '/' && path.FindLastOf("/") != NarrowString::npos)
      next = NarrowString(path, 0, path.FindLastOf("/") + 1) + next;
    path = next;
  }
  return path;
}

// A new file next to target, created exclusively so that nothing planted there is followed.
// Its mode is 0666 less the umask, as a file made by fopen would get.
int CreateSiblingFile(const NarrowString& target, NarrowString* name) {
  for (int attempt = 0; attempt < kNewFileAttempts; ++attempt) {
    NarrowString candidate = target + ".new-";
    AppendRandomNameCharacters(8, static_cast<uint64_t>(attempt), &candidate);
    int fd = open(candidate.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Appends the bytes of text to out; false when a unit cannot be encoded. A zero unit (read
// from a zero byte of the file) is written as a zero byte.
bool AppendLineText(const WideString& text, std::string* out) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < text.Length() && text[end] != 0) ++end;
    NarrowString bytes;
    if (!ToLocaleBytesExact(WideString(text, start, end - start), &bytes)) return false;
    out->append(bytes.Data(), bytes.Length());
    if (end == text.Length()) return true;
    out->push_back('\0');
    start = end + 1;
  }
}

// The whole file: one line "key=value" and a line feed per value. False when a key or a
// value cannot be encoded; nothing is then written, rather than a line that says less.
bool FormatLayer(const SettingsLayer& layer, std::string* content) {
  for (const SettingsEntry& entry : layer.entries()) {
    std::string key;
    if (!AppendLineText(entry.key, &key)) return false;
    for (const WideString& value : entry.values) {
      content->append(key);
      content->push_back('=');
      if (!AppendLineText(value, content)) return false;
      content->push_back('\n');
    }
  }
  return true;
}

// Writes content at the start of the file.
bool WriteAll(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Puts content into a new file next to file and renames it over file, so that a reader
// sees the old content or the new, never a part. old, when given, is the file replaced: the
// new one gets its owner, group and permission bits first, and when that is not allowed
// nothing is replaced. Returns kSettingsWritten, kSettingsCannotWrite after a failed write,
// or kSettingsCannotOpen when no new file could be made or given the old one's owner.
SettingsWriteResult ReplaceWithNewFile(const NarrowString& file, const std::string& content,
                                       const struct stat* old) {
  NarrowString temp;
  const int fd = CreateSiblingFile(file, &temp);
  if (fd < 0) return kSettingsCannotOpen;
  SettingsWriteResult result = kSettingsWritten;
  if (old != nullptr &&
      (fchown(fd, old->st_uid, old->st_gid) != 0 || fchmod(fd, old->st_mode & 07777) != 0)) {
    result = kSettingsCannotOpen;
  }
  if (result == kSettingsWritten && (!WriteAll(fd, content) || fsync(fd) != 0))
    result = kSettingsCannotWrite;
  if (close(fd) != 0 && result == kSettingsWritten) result = kSettingsCannotWrite;
  if (result == kSettingsWritten && rename(temp.CStr(), file.CStr()) != 0)
    result = kSettingsCannotOpen;
  if (result != kSettingsWritten) {
    unlink(temp.CStr());
    return result;
  }
  // Makes the rename itself durable; the new content is in place whatever this says.
  int dir = open(ByteDirectoryPart(file).CStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return kSettingsWritten;
}

// Writes content over the open file from its start and cuts it there: the file stays the
// same file, with its owner, mode and every other name it has.
SettingsWriteResult RewriteInPlace(int fd, const std::string& content) {
  if (!WriteAll(fd, content) || ftruncate(fd, static_cast<off_t>(content.size())) != 0 ||
      fsync(fd) != 0) {
    return kSettingsCannotWrite;
  }
  return kSettingsWritten;
}

// One attempt at putting content into the file at path (locale bytes).
SettingsWriteResult WriteContentOnce(const NarrowString& path, const std::string& content) {
  const NarrowString file = FollowLinks(path);
  NodeKind kind = NodeKind::kNothing;
  if (QueryNode(file.CStr(), &kind) != kSuccess) return kSettingsCannotOpen;
  if (kind == NodeKind::kNothing) return ReplaceWithNewFile(file, content, nullptr);
  // A FIFO, a device or a directory is no settings file: it is neither opened (a FIFO would
  // wait for a reader) nor replaced.
  if (kind != NodeKind::kRegularFile) return kSettingsCannotOpen;
  // The file is replaced only where it could be written: opening it for writing decides,
  // as it would for a program that writes the file itself.
  const int fd = open(file.CStr(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kSettingsCannotOpen;
  SettingsWriteResult result = kSettingsCannotOpen;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // A file with other names keeps them only when it is written where it is; elsewhere a
    // new file is made and renamed over it. Where no new file can be made next to it (a
    // folder the user cannot write to) or be given the file's owner, the file is written
    // where it is too.
    if (st.st_nlink == 1) result = ReplaceWithNewFile(file, content, &st);
    if (result == kSettingsCannotOpen) result = RewriteInPlace(fd, content);
  }
  close(fd);
  return result;
}

}  // namespace

WideString StarterConfig::UserFilePath() const {
  return alternative_ ? AltStarterConfigPath() : StarterConfigPath();
}

WideString StarterConfig::CommonFilePath() const {
  return alternative_ ? StarterConfigPath() : CommonStarterConfigPath();
}

namespace {

std::string FoldedKey(const WideString& text) {
  NarrowString folded = FoldCaseKey(text);
  return std::string(folded.Data(), folded.Length());
}

}  // namespace

void SettingsLayer::Add(const WideString& key, const WideString& value) {
  std::string folded_key = FoldedKey(key);
  std::string folded_value = FoldedKey(value);
  auto it = index_.find(folded_key);
  if (it != index_.end()) {
    if (folded_values_[it->second].insert(folded_value).second)
      entries_[it->second].values.push_back(value);
    return;
  }
  index_.emplace(folded_key, entries_.size());
  entries_.push_back(SettingsEntry{key, {value}});
  folded_values_.push_back({folded_value});
}

SettingsEntry* SettingsLayer::Find(const WideString& key) {
  auto it = index_.find(FoldedKey(key));
  return it == index_.end() ? nullptr : &entries_[it->second];
}

void SettingsLayer::Remove(const WideString& key) {
  auto it = index_.find(FoldedKey(key));
  if (it == index_.end()) return;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(it->second));
  Reindex();
}

void SettingsLayer::Append(SettingsEntry entry) {
  entries_.push_back(std::move(entry));
  Reindex();
}

void SettingsLayer::Reindex() {
  index_.clear();
  folded_values_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_.emplace(FoldedKey(entries_[i].key), i);
    std::unordered_set<std::string> values;
    for (const WideString& v : entries_[i].values) values.insert(FoldedKey(v));
    folded_values_.push_back(std::move(values));
  }
}

void StarterConfig::Read() {
  const struct {
    WideString path;
    SettingsLayer* layer;
  } files[] = {{CommonFilePath(), &common_}, {UserFilePath(), &user_}};
  for (const auto& f : files) {
    try {
      ReadKeyValueFile(f.path, [layer = f.layer](const WideString& k, const WideString& v) {
        layer->Add(k, v);
      });
    } catch (const std::exception&) {
      // A file that fails half-way keeps what it gave; the other file is still read.
    }
  }
}

void StarterConfig::SetLocations(const std::vector<WideString>& locations) {
  WideString key(kLocationKey);
  if (!locations.empty()) {
    if (SettingsEntry* entry = user_.Find(key)) {
      entry->values = locations;
      return;
    }
  }
  // An empty list leaves an entry without values at the end, which writes no line.
  user_.Remove(key);
  user_.Append(SettingsEntry{key, locations});
}

SettingsWriteResult StarterConfig::Write() const {
  WideString path = UserFilePath();
  std::string content;
  if (!FormatLayer(user_, &content)) return kSettingsCannotWrite;
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return kSettingsCannotOpen;
  // mkdir(2) with the outcome of "mkdir -p" (fs/make_directory.h): a first installation
  // makes the directory, and a shell and a mkdir process would cost more than the write.
  // Whether it worked shows in the write.
  if (!PathExists(path)) MakeDirectoryTree(DirectoryPart(path));
  SettingsWriteResult result = WriteContentOnce(bytes, content);
  if (result != kSettingsWritten) {
    MakeDirectoryTree(DirectoryPart(path));
    result = WriteContentOnce(bytes, content);
  }
  return result;
}

void RemoveDuplicateLocations(std::vector<WideString>* list) {
  std::vector<WideString> kept;
  std::unordered_set<std::string> seen;
  for (const WideString& location : *list) {
    WideString key = location;
    if (key.Empty() || (key[key.Length() - 1] != u'/' && key[key.Length() - 1] != u'\\'))
      key.Append(u'/');
    if (seen.insert(FoldedKey(key)).second) kept.push_back(location);
  }
  list->swap(kept);
}

void GetTemplateLocations(std::vector<WideString>* list, bool alternative) {
  StarterConfig config(alternative);
  config.Read();
  std::vector<WideString> taken;
  std::unordered_set<std::string> seen;
  for (const SettingsLayer* layer : {&config.user_layer(), &config.common_layer()}) {
    for (const SettingsEntry& entry : layer->entries()) {
      if (!IsLocationKey(entry.key)) continue;
      for (const WideString& value : entry.values)
        if (seen.insert(FoldedKey(value)).second) taken.push_back(value);
    }
  }
  list->insert(list->end(), taken.begin(), taken.end());
  for (WideString& location : *list) location.ReplaceAll(WideString(u"\\"), WideString(u"/"));
  RemoveDuplicateLocations(list);
}

SettingsWriteResult SetTemplateLocations(const std::vector<WideString>& list, bool alternative) {
  StarterConfig config(alternative);
  config.Read();
  std::vector<WideString> cleaned = list;
  RemoveDuplicateLocations(&cleaned);
  config.SetLocations(cleaned);
  return config.Write();
}
