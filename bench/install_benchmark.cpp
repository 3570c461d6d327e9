// Installation benchmark: the time of an installation run into a fresh template directory,
// of a run where every file is up to date and of a run that replaces every file, each next
// to `tar -xzf` of the same content, and the number of shell commands each run starts.
//
//   install_benchmark        (the data is generated under $TMPDIR or /tmp and removed)
//
// Two kits: 3,000 small files in 150 folders, and four 64 MiB files. The runs call
// InstallJob::Run directly; the one-second pause after the finish report is cut short by a
// stop request made beforehand, so it is not part of the times.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/install_job.h"
#include "install/install_test_access.h"
#include "install/progress_channel.h"
#include "install/stop_signal.h"
#include "kit/distribution_kit.h"
#include "kit/kit_writer.h"
#include "testing/language_override.h"
#include "testing/scratch_directory.h"
#include "testing/test_files.h"
#include "testing/text_helpers.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t kKitSeconds = 1600000000;
constexpr int64_t kOlderSeconds = 1500000000;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "install_benchmark: %s\n", message.c_str());
  std::exit(1);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Text-like runs mixed with noise, as configuration templates are.
std::string MixedBytes(std::size_t length, uint32_t* state) {
  static const char kWords[] = "template configuration value section profile default ";
  std::string bytes(length, ' ');
  for (std::size_t i = 0; i < length;) {
    *state = *state * 1664525u + 1013904223u;
    const std::size_t run = 16 + (*state >> 24) % 200;
    const bool noise = (*state >> 8) % 4 == 0;
    for (std::size_t k = 0; k < run && i < length; ++k, ++i) {
      if (noise) {
        *state = *state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(*state >> 24);
      } else {
        bytes[i] = kWords[(i + k) % (sizeof(kWords) - 1)];
      }
    }
  }
  return bytes;
}

void RunShell(const std::string& command) {
  if (std::system(command.c_str()) != 0) Die("failed: " + command);
}

// Sets every file under root to an older time, so the next run replaces everything.
void MakeEveryFileOlder(const std::string& root) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !SetModificationTime(entry.path().string(), kOlderSeconds)) {
      Die("cannot make " + entry.path().string() + " older");
    }
  }
}

struct RunFigures {
  double seconds;
  uint64_t journal_records;
};

RunFigures TimedRun(DistributionKit* kit, const std::string& target) {
  ProgressChannel channel;
  channel.Init();
  channel.Start(kit, WideFromAscii(target));
  StopSignal no_pause;
  no_pause.Request();
  InstallJob job(&no_pause);
  const Clock::time_point start = Clock::now();
  const int32_t result = job.Run(&channel);
  const double seconds = SecondsSince(start);
  if (result != 0) Die("installation run failed with " + std::to_string(result));
  const Transaction& transaction = InstallTestAccess::TransactionOf(job);
  return RunFigures{seconds, static_cast<uint64_t>(InstallTestAccess::Records(transaction).size())};
}

void PrintRow(const char* label, const char* run, const RunFigures& figures, double tar_seconds,
              const char* tar_note) {
  char setup_cell[32];
  std::snprintf(setup_cell, sizeof(setup_cell), "%.3f s", figures.seconds);
  char tar_cell[64];
  std::snprintf(tar_cell, sizeof(tar_cell), "%.3f s (%s)", tar_seconds, tar_note);
  std::printf("| %-28s | %-21s | %10s | %10" PRIu64 " | %-34s |\n", label, run, setup_cell,
              figures.journal_records, tar_cell);
}

double TimedTar(const std::string& archive, const std::string& directory) {
  const Clock::time_point start = Clock::now();
  RunShell("tar -xzf '" + archive + "' -C '" + directory + "'");
  return SecondsSince(start);
}

// Builds the kit and the archive from the source tree, then measures the three runs.
void Measure(const char* label, const ScratchDirectory& scratch, const std::string& name,
             const std::vector<std::string>& relative_files) {
  const std::string source = scratch.Child(name + "-src");
  KitWriter writer;
  writer.AddDescription(KitInfo{WideString(u"en"), WideString(u"Bench"), WideString(u"Bench"),
                                WideString(u"readme.htm")});
  for (const std::string& relative : relative_files) {
    std::string stored = relative;
    for (char& c : stored) c = c == '/' ? '\\' : c;
    if (writer.AddFileEntry(WideFromAscii(stored), FileTimeFromSystemSeconds(kKitSeconds),
                            WideFromAscii(source + "/" + relative)) != kSuccess) {
      Die("cannot add " + relative);
    }
  }
  writer.SetCompressionLevel(1);
  const std::string kit_path = scratch.Child(name + ".efd");
  if (writer.WriteKit(WideFromAscii(kit_path)) != kSuccess) Die("cannot write the kit");
  const std::string archive = scratch.Child(name + ".tar.gz");
  RunShell("tar -cf - -C '" + source + "' . | gzip -1 > '" + archive + "'");

  DistributionKit kit;
  if (kit.Open(WideFromAscii(kit_path)) != kSuccess) Die("cannot open the kit");

  const std::string target = scratch.Child(name + "-target");
  const std::string tar_target = scratch.Child(name + "-tar");
  const RunFigures fresh = TimedRun(&kit, target);
  if (!MakeDirectories(tar_target)) Die("cannot make " + tar_target);
  const double tar_fresh = TimedTar(archive, tar_target);

  const RunFigures current = TimedRun(&kit, target);
  const double tar_over = TimedTar(archive, tar_target);

  MakeEveryFileOlder(target);
  const RunFigures replace = TimedRun(&kit, target);
  const double tar_again = TimedTar(archive, tar_target);

  PrintRow(label, "fresh", fresh, tar_fresh, "into an empty directory");
  PrintRow("", "every file up to date", current, tar_over, "over the same files");
  PrintRow("", "every file replaced", replace, tar_again, "over the same files");
  std::fflush(stdout);

  kit.DiscardContainer();
  std::error_code ignored;
  for (const std::string& path : {source, target, tar_target, kit_path, archive}) {
    std::filesystem::remove_all(path, ignored);
  }
}

}  // namespace

int main() {
  LanguageOverride english("en");
  ScratchDirectory scratch(ScratchDirectory::kOwnTemp);
  uint32_t state = 12345;

  std::printf("| %-28s | %-21s | %10s | %10s | %-34s |\n", "kit", "run", "setup run",
              "journal", "tar -xzf, same content");
  std::printf("|%s|%s|%s|%s|%s|\n", std::string(30, '-').c_str(), std::string(23, '-').c_str(),
              std::string(12, '-').c_str(), std::string(12, '-').c_str(),
              std::string(36, '-').c_str());

  {
    std::vector<std::string> files;
    const std::string source = scratch.Child("small-src");
    for (int folder = 0; folder < 150; ++folder) {
      char folder_name[32];
      std::snprintf(folder_name, sizeof(folder_name), "folder%03d", folder);
      if (!MakeDirectories(source + "/" + folder_name)) Die("cannot make the source");
      for (int file = 0; file < 20; ++file) {
        char file_name[64];
        std::snprintf(file_name, sizeof(file_name), "%s/template%02d.cfg", folder_name, file);
        const std::size_t length = 512 + (state >> 20) % 7680;
        if (!WriteFileAt(source + "/" + file_name, MixedBytes(length, &state), kKitSeconds)) {
          Die("cannot write the source");
        }
        files.push_back(file_name);
      }
    }
    Measure("3,000 small files, 150 dirs", scratch, "small", files);
  }
  {
    std::vector<std::string> files;
    const std::string source = scratch.Child("large-src");
    if (!MakeDirectories(source)) Die("cannot make the source");
    const std::size_t kChunk = 1 << 20;
    for (int file = 0; file < 4; ++file) {
      const std::string name = "large" + std::to_string(file) + ".bin";
      std::ofstream out(source + "/" + name, std::ios::binary);
      for (int piece = 0; piece < 64; ++piece) {
        const std::string bytes = MixedBytes(kChunk, &state);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      }
      if (!out) Die("cannot write the source");
      files.push_back(name);
    }
    Measure("4 files of 64 MiB", scratch, "large", files);
  }
  return 0;
}
