#include "config/starter_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <random>

#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/make_directory.h"
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
    struct stat st;
    if (lstat(path.CStr(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
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
  std::random_device seed;
  std::mt19937 rng(seed());
  const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < kNewFileAttempts; ++attempt) {
    NarrowString candidate = target + ".new-";
    for (int i = 0; i < 8; ++i) candidate.Append(digits[rng() % 36]);
    int fd = open(candidate.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *name = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

SettingsWriteResult WriteLines(std::FILE* out, const SettingsLayer& layer) {
  for (const SettingsEntry& entry : layer.entries()) {
    NarrowString key = ToLocaleBytes(entry.key);
    for (const WideString& value : entry.values) {
      NarrowString bytes = ToLocaleBytes(value);
      if (std::fprintf(out, "%s=%s", key.CStr(), bytes.CStr()) < 0) return kSettingsCannotWrite;
      if (std::fputc('\n', out) == EOF) return kSettingsCannotWrite;
    }
  }
  return kSettingsWritten;
}

// One attempt at replacing the file at path with the layer's lines.
SettingsWriteResult WriteLayerOnce(const WideString& path, const SettingsLayer& layer) {
  NarrowString file = FollowLinks(ToLocaleBytes(path));
  NarrowString temp;
  int fd = CreateSiblingFile(file, &temp);
  if (fd < 0) return kSettingsCannotOpen;
  struct stat old;
  if (stat(file.CStr(), &old) == 0) fchmod(fd, old.st_mode & 07777);

  std::FILE* out = fdopen(fd, "w");
  if (out == nullptr) {
    close(fd);
    unlink(temp.CStr());
    return kSettingsCannotOpen;
  }
  SettingsWriteResult result = WriteLines(out, layer);
  if (result == kSettingsWritten && (std::fflush(out) != 0 || fsync(fd) != 0))
    result = kSettingsCannotWrite;
  if (std::fclose(out) != 0 && result == kSettingsWritten) result = kSettingsCannotWrite;
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
  // mkdir(2) with the outcome of "mkdir -p" (fs/make_directory.h): a first installation
  // makes the directory, and a shell and a mkdir process would cost more than the write.
  // Whether it worked shows in the write.
  if (!PathExists(path)) MakeDirectoryTree(DirectoryPart(path));
  SettingsWriteResult result = WriteLayerOnce(path, user_);
  if (result != kSettingsWritten) {
    MakeDirectoryTree(DirectoryPart(path));
    result = WriteLayerOnce(path, user_);
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
