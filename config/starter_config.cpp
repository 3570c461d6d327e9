#include "config/starter_config.h"

#include <cerrno>
#include <exception>
#include <string>

#include "config/well_known_locations.h"
#include "fs/directory_finder.h"
#include "fs/make_directory.h"
#include "text/key_value_file.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

namespace {

const char16_t kLocationKey[] = u"ConfigurationTemplatesLocation";

bool IsLocationKey(const WideString& key) {
  return CompareNoCase(key, WideString(kLocationKey)) == 0;
}

// Everything before the last "/" or "\"; empty when there is neither.
WideString DirectoryPart(const WideString& path) {
  WideString::size_type at = path.FindLastOf(u"/\\");
  return at == WideString::npos ? WideString() : WideString(path, 0, at);
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
    NarrowString bytes;
    if (ToLocaleBytesExact(f.path, &bytes)) FinishInterruptedSettingsRewrite(bytes);
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

SettingsWriteResult StarterConfig::Write(int* error_number) const {
  int ignored = 0;
  if (error_number == nullptr) error_number = &ignored;
  *error_number = 0;
  WideString path = UserFilePath();
  std::string content;
  if (!FormatLayer(user_, &content)) {
    *error_number = EILSEQ;
    return kSettingsCannotWrite;
  }
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) {
    *error_number = EILSEQ;
    return kSettingsCannotOpen;
  }
  // mkdir(2) with the outcome of "mkdir -p" (fs/make_directory.h): a first installation
  // makes the directory, and a shell and a mkdir process would cost more than the write.
  // Whether it worked shows in the write.
  if (!PathExists(path)) MakeDirectoryTree(DirectoryPart(path));
  SettingsWriteResult result = WriteSettingsFile(bytes, content, error_number);
  // A file of someone else's stays theirs however often it is asked.
  if (result != kSettingsWritten && result != kSettingsNotOwned) {
    MakeDirectoryTree(DirectoryPart(path));
    result = WriteSettingsFile(bytes, content, error_number);
  }
  return result;
}

void RemoveDuplicateLocations(std::vector<WideString>* list) {
  std::vector<WideString> kept;
  std::unordered_set<std::string> seen;
  for (const WideString& location : *list) {
    WideString key = location;
    AppendSlashUnlessSeparator(&key);
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
  for (WideString& location : *list) UseForwardSlashes(&location);
  RemoveDuplicateLocations(list);
}

SettingsWriteResult SetTemplateLocations(const std::vector<WideString>& list, bool alternative,
                                         int* error_number) {
  StarterConfig config(alternative);
  config.Read();
  std::vector<WideString> cleaned = list;
  RemoveDuplicateLocations(&cleaned);
  config.SetLocations(cleaned);
  return config.Write(error_number);
}
