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

// Failure codes of writing the user file.
enum SettingsWriteResult : int {
  kSettingsWritten = 0,
  // The file could not be opened for writing, created or put in place, or its path is no
  // regular file or cannot be encoded.
  kSettingsCannotOpen = 1,
  // A line could not be encoded (nothing is written then), or the content could not be
  // written or flushed.
  kSettingsCannotWrite = 2,
};

class StarterConfig {
 public:
  explicit StarterConfig(bool alternative) : alternative_(alternative) {}

  // Reads the common file into the common layer, then the user file into the user layer.
  // Missing or unreadable files leave their layer empty; a failure while reading one file
  // keeps what was added before it and does not stop the other file.
  void Read();

  // Sets the values of "ConfigurationTemplatesLocation" in the user layer: the first entry
  // with that key keeps its place and spelling; without one, an entry is appended. An
  // empty list removes the entry, so the key disappears from the written file.
  void SetLocations(const std::vector<WideString>& locations);

  // Rewrites the user file whole from the user layer, creating its directory first when
  // the file does not exist, and trying once more after making the directory again when
  // the first attempt fails. Keys and values are converted with ToLocaleBytesExact, so a
  // line read from the file is written back with exactly its bytes; a key or value that
  // cannot be encoded makes the write fail before anything is written.
  //
  // A symbolic link is followed to the file it names. Where the file exists it must be a
  // regular file that can be opened for writing, else nothing is written (a FIFO or a
  // device is never opened). It is then replaced atomically when it can be: the new content
  // goes to a new file in the same directory, which gets the old file's owner, group and
  // permission bits, is flushed to disk and renamed over the old file; a failed write
  // leaves the old file as it was. Where that cannot be done (no new file can be made in
  // the directory, or given the owner), or would split the file from its other names (it
  // has several hard links), the file is rewritten where it is, keeping all of them.
  SettingsWriteResult Write() const;

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
// into the user file and returns the result of writing. The list itself is not changed.
SettingsWriteResult SetTemplateLocations(const std::vector<WideString>& list, bool alternative);

// Removes every element that equals an earlier one under CompareNoCase once a "/" is
// appended to each that ends in neither "/" nor "\"; the kept elements are not changed.
void RemoveDuplicateLocations(std::vector<WideString>* list);

#endif  // CONFIG_STARTER_CONFIG_H_
