// StarterConfig: the in-memory store of the launcher's settings files, made afresh for one
// read or one write of the template locations.
//
// Two files are read, each into its own layer: the user file (read and rewritten) and the
// common file (only read). Which files these are depends on the alternative-location flag:
//
//   flag clear  user ~/.Tavlo/tavlostart/tavlostart.cfg   common ~/.tavlo5/.Tavlo/tavlostart/tavlostart.cfg
//   flag set    user ~/.Tavlo/tavlostartt/tavlostart.cfg  common ~/.Tavlo/tavlostart/tavlostart.cfg
//
// A layer is an ordered list of entries, each a key and an ordered list of values. Lines are
// added by the add rule: a key equal (CompareNoCase) to an earlier one adds its value to
// that entry, unless the entry holds an equal value already; so repeated keys merge at the
// place of their first appearance with the first spelling. The launcher keeps other keys in
// the same file; a rewrite keeps them all, in this normalised form (merged keys, no repeated
// pairs, no empty lines, a line without "=" written back with "=").
//
// The one key the installer interprets is "ConfigurationTemplatesLocation": each value is a
// template directory.

#ifndef CONFIG_STARTER_CONFIG_H_
#define CONFIG_STARTER_CONFIG_H_

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/settings_file_write.h"
#include "text/wide_string.h"

struct SettingsEntry {
  WideString key;
  std::vector<WideString> values;
};

// An ordered list of entries with the add rule. Keys and values are indexed by their
// case-folded form, so a file of many lines is read in linear time.
class SettingsLayer {
 public:
  // The add rule (see above).
  void Add(const WideString& key, const WideString& value);
  // The entry whose key equals key under CompareNoCase, or null.
  SettingsEntry* Find(const WideString& key);
  // Removes the entry whose key equals key under CompareNoCase, if there is one.
  void Remove(const WideString& key);
  // Appends an entry; its key must not equal that of an entry already there.
  void Append(SettingsEntry entry);

  const std::vector<SettingsEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  const SettingsEntry& operator[](std::size_t i) const { return entries_[i]; }

 private:
  void Reindex();

  std::vector<SettingsEntry> entries_;
  // Folded key -> index in entries_; per entry, the folded values it holds.
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::unordered_set<std::string>> folded_values_;
};

class StarterConfig {
 public:
  explicit StarterConfig(bool alternative) : alternative_(alternative) {}

  // Reads the common file into the common layer, then the user file into the user layer.
  // Missing or unreadable files leave their layer empty; a failure while reading one file
  // keeps what was added before it and does not stop the other file. An in-place rewrite of
  // either file that a killed writer left unfinished is finished first
  // (FinishInterruptedSettingsRewrite), so what is read is the old content or the new.
  void Read();

  // Sets the values of "ConfigurationTemplatesLocation" in the user layer: the first entry
  // with that key keeps its place and spelling; without one, an entry is appended. An
  // empty list removes the entry, so the key disappears from the written file.
  void SetLocations(const std::vector<WideString>& locations);

  // Rewrites the user file whole from the user layer, creating its directory first when
  // the file does not exist, and trying once more after making the directory again when
  // the first attempt fails (not when the file belongs to someone else). Keys and values are
  // converted with ToLocaleBytesExact, so a line read from the file is written back with
  // exactly its bytes; a key or value that cannot be encoded makes the write fail before
  // anything is written.
  //
  // How the file is put in place, kept whole when the writer is killed or the file system
  // is full, and when it is not written because it belongs to someone else, is
  // WriteSettingsFile's (config/settings_file_write.h). Where the file exists it must be a
  // regular file that can be opened for writing, else nothing is written (a FIFO or a
  // device is never opened). On failure *error_number (when given) is the system's reason,
  // EILSEQ for a line or a path that cannot be encoded.
  SettingsWriteResult Write(int* error_number = nullptr) const;

  WideString UserFilePath() const;
  WideString CommonFilePath() const;
  const SettingsLayer& user_layer() const { return user_; }
  const SettingsLayer& common_layer() const { return common_; }

 private:
  SettingsLayer user_;
  SettingsLayer common_;
  bool alternative_;
};

// Appends the template locations of the settings (user layer first, then common layer,
// values equal under CompareNoCase taken once) to *list, then turns every "\" of every
// element into "/" and removes later duplicates from the whole list (RemoveDuplicateLocations).
void GetTemplateLocations(std::vector<WideString>* list, bool alternative);

// Writes the list, cleaned of duplicates, as the values of "ConfigurationTemplatesLocation"
// into the user file and returns the result of writing (with the reason of a failure in
// *error_number, when given, as StarterConfig::Write). The list itself is not changed.
SettingsWriteResult SetTemplateLocations(const std::vector<WideString>& list, bool alternative,
                                         int* error_number = nullptr);

// Removes every element that equals an earlier one under CompareNoCase once a "/" is
// appended to each that ends in neither "/" nor "\"; the kept elements are not changed.
void RemoveDuplicateLocations(std::vector<WideString>* list);

#endif  // CONFIG_STARTER_CONFIG_H_
