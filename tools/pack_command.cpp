#include "tools/pack_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <set>
#include <string>

#include "app/string_table.h"
#include "kit/container_format.h"
#include "kit/entry_name_check.h"
#include "kit/kit_writer.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"
#include "tools/describe_option.h"
#include "tools/file_time_text.h"
#include "tools/key_files.h"
#include "tools/locale_text.h"
#include "tools/tree_walk.h"

static int Fail(std::FILE* err, int status, const NarrowString& message) {
  std::fprintf(err, "efdtool pack: %s\n", message.CStr());
  return status;
}

static NarrowString Quoted(const NarrowString& text) { return NarrowString("\"") + text + "\""; }

// The kit's name for a relative path: "\" between components. A "\" inside a file name
// would read as a separator when the kit is installed, so such names are refused.
static bool EntryNameOf(const NarrowString& relative, WideString* name, NarrowString* failure) {
  if (relative.Find("\\") != NarrowString::npos) {
    *failure = Quoted(relative) + " holds a \"\\\", which a kit reads as a separator";
    return false;
  }
  if (!WideFromLocaleExactly(relative, name)) {
    *failure = Quoted(relative) + " is not valid text in the locale's encoding";
    return false;
  }
  name->ReplaceAll(WideString(u"/"), WideString(u"\\"));
  if (const char* unsafe = UnsafeEntryNameReason(*name)) {
    *failure = Quoted(relative) + ": the name " + unsafe;
    return false;
  }
  return true;
}

// Whether a text set of the installer has the language (compared as the installer compares
// a description's language: without regard to case); *codes receives every code there is.
static bool TextSetHas(const WideString& language, NarrowString* codes) {
  std::set<std::string> sorted;
  bool found = false;
  for (const auto& row : GetStringTable()) {
    sorted.insert(row.second.code.CStr());
    if (CompareNoCase(language, FromLocaleBytes(row.second.code)) == 0) found = true;
  }
  for (const std::string& code : sorted) {
    if (!codes->Empty()) codes->Append(" ");
    codes->Append(code.c_str());
  }
  return found;
}

static bool AddDescriptions(const PackOptions& options, KitWriter* writer,
                            std::vector<KitInfo>* added, NarrowString* failure) {
  for (const NarrowString& text : options.descriptions) {
    KitInfo info;
    if (!ParseDescribeOption(text, &info, failure)) return false;
    if (!options.single_description) {
      NarrowString codes;
      if (info.language.Empty()) {
        *failure = Quoted(text) + " has no LANG";
        return false;
      }
      // A description in a language no text set has is never shown by the installer.
      if (!TextSetHas(info.language, &codes)) {
        *failure = Quoted(text) + ": no text set of the installer has the language " +
                   Quoted(ToLocaleBytes(info.language)) + "; the codes are: " + codes;
        return false;
      }
    }
    writer->AddDescription(info);
    added->push_back(info);
  }
  return true;
}

// Adds one file; false with failure on an error.
static bool AddFile(const NarrowString& directory, const NarrowString& relative, KitWriter* writer,
                    uint64_t* bytes, NarrowString* failure) {
  const NarrowString path = directory + "/" + relative;
  struct stat64 status;
  if (stat64(path.CStr(), &status) != 0) {
    *failure = NarrowString("cannot query ") + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  WideString name, wide_path;
  if (!EntryNameOf(relative, &name, failure)) return false;
  if (!WideFromLocaleExactly(path, &wide_path)) {
    *failure = Quoted(path) + " is not valid text in the locale's encoding";
    return false;
  }
  FileTime time;
  if (!FileTimeFromSecondsChecked(static_cast<int64_t>(status.st_mtime), &time)) {
    *failure = Quoted(path) + " has a modification time before 1601";
    return false;
  }
  if (!FitsUint32(static_cast<uint64_t>(status.st_size))) {
    *failure = Quoted(path) + " holds 4 GiB or more, more than a kit entry can";
    return false;
  }
  if (writer->AddFileEntry(name, time, wide_path) != kSuccess) {
    *failure = NarrowString("cannot read ") + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  *bytes += static_cast<uint64_t>(status.st_size);
  return true;
}

// What a vendor may mean but more likely did not: a description document that the kit does
// not hold, or a kit without files.
static void WarnAboutContent(const std::vector<KitInfo>& descriptions,
                             const std::set<std::string>& packed_names,
                             const NarrowString& directory, std::FILE* err) {
  if (packed_names.empty()) {
    std::fprintf(err, "efdtool pack: warning: %s holds no files; the kit installs nothing\n",
                 Quoted(directory).CStr());
  }
  for (const KitInfo& info : descriptions) {
    if (info.description.Empty()) continue;
    WideString document = info.description;
    UseForwardSlashes(&document);
    const NarrowString name = ToLocaleBytes(document);
    if (packed_names.count(name.CStr()) == 0) {
      std::fprintf(err,
                   "efdtool pack: warning: the description document %s is no file of %s; "
                   "the installer will find nothing to open\n",
                   Quoted(ToLocaleBytes(info.description)).CStr(), Quoted(directory).CStr());
    }
  }
}

int RunPack(const PackOptions& options, std::FILE* out, std::FILE* err) {
  if (options.single_description && options.descriptions.size() > 1) {
    return Fail(err, 2, "--layout-a takes at most one --describe");
  }
  KitWriter writer(options.single_description ? kLayoutSingleDescription : kLayoutPerLanguage);
  NarrowString failure;
  std::vector<KitInfo> descriptions;
  if (!AddDescriptions(options, &writer, &descriptions, &failure)) return Fail(err, 2, failure);
  if (options.sign) {
    KitSecretKey secret;
    if (!ReadSecretKeyFile(options.secret_key_path, &secret, &failure)) {
      return Fail(err, 1, failure);
    }
    writer.SetSigningKey(secret);
  }

  const NarrowString directory = WithoutTrailingSlashes(options.directory);
  std::vector<NarrowString> files, skipped;
  if (!CollectRegularFiles(directory, &files, &skipped, &failure)) return Fail(err, 1, failure);
  for (const NarrowString& path : skipped) {
    std::fprintf(err, "efdtool pack: skipping %s (not a regular file)\n", Quoted(path).CStr());
  }

  // An existing kit file inside the tree is about to be rewritten; it is not packed.
  struct stat64 kit_status;
  const bool kit_exists = stat64(options.kit_path.CStr(), &kit_status) == 0;
  uint64_t bytes = 0;
  std::size_t packed = 0;
  std::set<std::string> packed_names;
  for (const NarrowString& relative : files) {
    struct stat64 status;
    const NarrowString path = directory + "/" + relative;
    if (kit_exists && stat64(path.CStr(), &status) == 0 && status.st_dev == kit_status.st_dev &&
        status.st_ino == kit_status.st_ino) {
      continue;
    }
    if (!AddFile(directory, relative, &writer, &bytes, &failure)) return Fail(err, 1, failure);
    packed_names.insert(relative.CStr());
    ++packed;
  }
  WarnAboutContent(descriptions, packed_names, directory, err);

  WideString kit_path;
  if (!WideFromLocaleExactly(options.kit_path, &kit_path)) {
    return Fail(err, 1, Quoted(options.kit_path) + " is not valid text in the locale's encoding");
  }
  const ErrorCode code = writer.WriteKit(kit_path, &failure);
  if (code != kSuccess) return Fail(err, 1, failure);
  std::fprintf(out, "packed %zu %s (%" PRIu64 " bytes, container %" PRIu64 " bytes) into %s\n",
               packed, packed == 1 ? "entry" : "entries", bytes, writer.ContainerBytes(),
               options.kit_path.CStr());
  return 0;
}
