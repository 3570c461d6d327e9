#include "tools/extract_command.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>

#include "kit/distribution_kit.h"
#include "text/locale_conversions.h"
#include "tools/contained_tree.h"
#include "tools/tool_kit.h"

namespace {

// The system's reason for the file layer's failure that just happened.
std::string SystemReason() { return std::string(": ") + std::strerror(errno); }

// Writes entry index below tree; false with *failure.
bool ExtractOne(DistributionKit* kit, std::size_t index, ContainedTree* tree,
                std::string* failure) {
  const KitEntry& entry = kit->Entry(index);
  // The kit's opening checked the name and made its path.
  NarrowString bytes;
  if (!entry.path.ToBytes(&bytes)) {
    *failure = "the name \"" + std::string(ToLocaleBytes(entry.path.Text()).CStr()) +
               "\" cannot be written in the locale's encoding";
    return false;
  }
  return tree->WriteFile(
      std::string(bytes.CStr(), bytes.Length()),
      [kit, index, &entry](int descriptor, std::string* fill_failure) {
        const FileHandle handle = descriptor;
        ErrorCode code = kit->CopyEntryTo(index, handle);
        if (code != kSuccess) {
          *fill_failure = "cannot copy the entry's bytes" +
                          (code == kErrorInvalidData
                               ? std::string(": the kit's container ends inside them")
                               : SystemReason());
          return false;
        }
        // CopyEntryTo stamps the file as the installer does, without a word when that fails;
        // here a time that cannot be set is a failure.
        code = FileSetTimes(handle, nullptr, nullptr, &entry.time);
        if (code != kSuccess) {
          *fill_failure = "cannot set the modification time" + SystemReason();
          return false;
        }
        return true;
      },
      failure);
}

}  // namespace

int RunExtract(const NarrowString& kit_path, const NarrowString& directory, std::FILE* out,
               std::FILE* err) {
  TerminationSignalsHeld held;
  DistributionKit kit;
  if (!OpenKitForTool(kit_path, "extract", &kit, err)) return 1;
  ContainedTree tree;
  std::string failure;
  bool extracted = tree.Open(std::string(directory.CStr(), directory.Length()), &failure);
  const std::size_t count = kit.EntryCount();
  uint64_t bytes = 0;
  for (std::size_t i = 0; extracted && i < count; ++i) {
    extracted = ExtractOne(&kit, i, &tree, &failure);
    bytes += kit.Entry(i).size;
  }
  if (!extracted) {
    std::fprintf(err, "efdtool extract: %s\n", failure.c_str());
    return 1;
  }
  std::fprintf(out, "extracted %zu %s (%" PRIu64 " bytes) into %s\n", count,
               count == 1 ? "entry" : "entries", bytes, directory.CStr());
  return 0;
}
