#include "tools/pack_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "kit/container_format.h"
#include "kit/entry_name_check.h"
#include "kit/kit_writer.h"
#include "tools/describe_option.h"
#include "tools/file_time_text.h"
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

static bool AddDescriptions(const PackOptions& options, KitWriter* writer, NarrowString* failure) {
  for (const NarrowString& text : options.descriptions) {
    KitInfo info;
    if (!ParseDescribeOption(text, &info, failure)) return false;
    if (!options.single_description && info.language.Empty()) {
      *failure = Quoted(text) + " has no LANG";
      return false;
    }
    writer->AddDescription(info);
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
  const ErrorCode code = writer->AddFileEntry(name, time, wide_path);
  if (code != kSuccess) {
    *failure = NarrowString("cannot take ") + Quoted(path) +
               (code == kErrorInvalidParameter ? " (4 GiB or more, or unreadable)" : "");
    return false;
  }
  *bytes += static_cast<uint64_t>(status.st_size);
  return true;
}

int RunPack(const PackOptions& options, std::FILE* out, std::FILE* err) {
  if (options.single_description && options.descriptions.size() > 1) {
    return Fail(err, 2, "--layout-a takes at most one --describe");
  }
  KitWriter writer(options.single_description ? kLayoutSingleDescription : kLayoutPerLanguage);
  NarrowString failure;
  if (!AddDescriptions(options, &writer, &failure)) return Fail(err, 2, failure);

  NarrowString directory = options.directory;
  while (directory.Length() > 1 && directory[directory.Length() - 1] == '/') {
    directory.Erase(directory.Length() - 1);
  }
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
  for (const NarrowString& relative : files) {
    struct stat64 status;
    const NarrowString path = directory + "/" + relative;
    if (kit_exists && stat64(path.CStr(), &status) == 0 && status.st_dev == kit_status.st_dev &&
        status.st_ino == kit_status.st_ino) {
      continue;
    }
    if (!AddFile(directory, relative, &writer, &bytes, &failure)) return Fail(err, 1, failure);
    ++packed;
  }

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
