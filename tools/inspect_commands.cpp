#include "tools/inspect_commands.h"

#include <cinttypes>

#include "kit/distribution_kit.h"
#include "text/locale_conversions.h"
#include "tools/file_time_text.h"
#include "tools/key_files.h"
#include "tools/tool_kit.h"

static uint64_t DataBytes(const DistributionKit& kit) {
  uint64_t bytes = 0;
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) bytes += kit.Entry(i).size;
  return bytes;
}

static void PrintDescriptions(const DistributionKit& kit, std::FILE* out) {
  for (std::size_t i = 0; i < kit.DescriptionCount(); ++i) {
    const KitInfo& info = kit.Description(i);
    std::fprintf(out, "description [%s] product \"%s\" vendor \"%s\" document \"%s\"\n",
                 ToLocaleBytes(info.language).CStr(), ToLocaleBytes(info.product).CStr(),
                 ToLocaleBytes(info.vendor).CStr(), ToLocaleBytes(info.description).CStr());
  }
}

int RunList(const NarrowString& kit_path, std::FILE* out, std::FILE* err) {
  DistributionKit kit;
  if (!OpenKitForTool(kit_path, "list", &kit, err)) return 1;
  PrintDescriptions(kit, out);
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) {
    const KitEntry& entry = kit.Entry(i);
    std::fprintf(out, "%12" PRIu32 "  %s  %s\n", entry.size, FormatFileTimeUtc(entry.time).CStr(),
                 ToLocaleBytes(entry.name).CStr());
  }
  std::fprintf(out, "%zu %s, %" PRIu64 " bytes\n", kit.EntryCount(),
               kit.EntryCount() == 1 ? "entry" : "entries", DataBytes(kit));
  return 0;
}

int RunVerify(const NarrowString& kit_path, const NarrowString* key_path, std::FILE* out,
              std::FILE* err) {
  KitPublicKey key;
  if (key_path != nullptr) {
    NarrowString failure;
    if (!ReadPublicKeyFile(*key_path, &key, &failure)) {
      std::fprintf(err, "efdtool verify: %s\n", failure.CStr());
      return 1;
    }
  }
  DistributionKit kit;
  // The kit opens as in a setup built with that key: unsigned or another key's is refused.
  if (!OpenKitForTool(kit_path, "verify", &kit, err, key_path != nullptr ? &key : nullptr)) {
    return 1;
  }
  std::fprintf(out, "%s is sound: %zu %s, %zu %s, %" PRIu64 " bytes\n", kit_path.CStr(),
               kit.DescriptionCount(), kit.DescriptionCount() == 1 ? "description" : "descriptions",
               kit.EntryCount(), kit.EntryCount() == 1 ? "entry" : "entries", DataBytes(kit));
  const KitSeal& seal = kit.Seal();
  std::fprintf(out, "stream SHA-256 %s\n", HexText(seal.digest, kDigestBytes).CStr());
  if (!seal.has_trailer) {
    std::fprintf(out, "no integrity trailer: not signed\n");
  } else if (!seal.is_signed) {
    std::fprintf(out, "integrity trailer: hash matches, not signed\n");
  } else {
    std::fprintf(out, "integrity trailer: hash matches, signed by key %s\n",
                 KeyFingerprint(seal.signer).CStr());
  }
  return 0;
}
