// Kit benchmark: throughput of opening (inflating) a kit and extracting its entries, next to
// `gzip -dc` of the same DEFLATE data, and the peak memory of the process.
//
//   kit_benchmark [MiB]      (default 256; the data is generated under $TMPDIR or /tmp)
//
// The kit holds files of mixed compressible data (text-like runs and noise) of varied sizes.
// The gzip file for the comparison wraps the kit's very DEFLATE stream in a gzip header and
// trailer, so both sides inflate exactly the same bytes.

#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kit/distribution_kit.h"
#include "kit/kit_test_access.h"
#include "kit/kit_writer.h"
#include "text/locale_conversions.h"

extern char** environ;

using Clock = std::chrono::steady_clock;

static double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

static double MegabytesPerSecond(uint64_t bytes, double seconds) {
  return seconds > 0 ? bytes / 1e6 / seconds : 0;
}

[[noreturn]] static void Die(const std::string& message) {
  std::fprintf(stderr, "kit_benchmark: %s\n", message.c_str());
  std::exit(1);
}

static WideString Wide(const std::string& path) {
  return FromLocaleBytes(NarrowString(path.c_str()));
}

// Fills the buffer with text-like runs mixed with noise (compresses to roughly a third).
static void FillMixed(std::vector<unsigned char>* buffer, uint32_t* state) {
  static const char kWords[] = "template configuration value section profile default ";
  for (std::size_t i = 0; i < buffer->size();) {
    *state = *state * 1664525u + 1013904223u;
    const std::size_t run = 16 + (*state >> 24) % 200;
    const bool noise = (*state >> 8) % 4 == 0;
    for (std::size_t k = 0; k < run && i < buffer->size(); ++k, ++i) {
      if (noise) {
        *state = *state * 1664525u + 1013904223u;
        (*buffer)[i] = static_cast<unsigned char>(*state >> 24);
      } else {
        (*buffer)[i] =
            static_cast<unsigned char>(kWords[(i + (*state >> 16)) % (sizeof kWords - 1)]);
      }
    }
  }
}

// Writes files of varied sizes (4 KiB to 8 MiB) totalling total_bytes into directory;
// returns their names.
static std::vector<std::string> GenerateFiles(const std::string& directory, uint64_t total_bytes) {
  std::vector<std::string> names;
  std::vector<unsigned char> buffer(1 << 20);
  uint32_t state = 42;
  uint64_t written = 0;
  while (written < total_bytes) {
    state = state * 1664525u + 1013904223u;
    uint64_t size = 4096ull << ((state >> 20) % 12);  // 4 KiB .. 8 MiB
    if (size > total_bytes - written) size = total_bytes - written;
    const std::string name = "file" + std::to_string(names.size());
    FILE* file = std::fopen((directory + "/" + name).c_str(), "wb");
    if (file == nullptr) Die("cannot create " + name);
    for (uint64_t left = size; left > 0;) {
      FillMixed(&buffer, &state);
      const std::size_t piece =
          left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
      if (std::fwrite(buffer.data(), 1, piece, file) != piece) Die("cannot write " + name);
      left -= piece;
    }
    if (std::fclose(file) != 0) Die("cannot write " + name);
    names.push_back(name);
    written += size;
  }
  return names;
}

static void PutLittleEndian32(uint32_t value, FILE* file) {
  for (int i = 0; i < 4; ++i) std::fputc(static_cast<int>((value >> (8 * i)) & 0xFF), file);
}

// gzip file = header + the kit's raw DEFLATE stream + CRC-32 and size of the inflated data.
static void WriteGzipOfKit(const std::string& kit, const std::string& container,
                           const std::string& gzip) {
  uLong crc = crc32(0, nullptr, 0);
  uint64_t size = 0;
  std::vector<unsigned char> buffer(1 << 20);
  FILE* in = std::fopen(container.c_str(), "rb");
  if (in == nullptr) Die("cannot read the container");
  for (std::size_t count; (count = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
    crc = crc32(crc, buffer.data(), static_cast<uInt>(count));
    size += count;
  }
  std::fclose(in);
  FILE* out = std::fopen(gzip.c_str(), "wb");
  in = std::fopen(kit.c_str(), "rb");
  if (out == nullptr || in == nullptr) Die("cannot write the gzip file");
  const unsigned char header[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
  std::fwrite(header, 1, sizeof header, out);
  for (std::size_t count; (count = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
    std::fwrite(buffer.data(), 1, count, out);
  }
  std::fclose(in);
  PutLittleEndian32(static_cast<uint32_t>(crc), out);
  PutLittleEndian32(static_cast<uint32_t>(size), out);
  if (std::fclose(out) != 0) Die("cannot write the gzip file");
}

// Runs gzip -dc on the file with its output going to output_path; returns the seconds.
static double TimeGzip(const std::string& gzip, const std::string& output_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const char* argv[] = {"gzip", "-dc", gzip.c_str(), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gzip", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    Die("cannot start gzip");
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = SecondsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("gzip -dc failed");
  return seconds;
}

static int RemoveNode(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}

int main(int argc, char** argv) {
  const uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
  if (mebibytes == 0 || mebibytes > 4000) Die("MiB must be between 1 and 4000");
  const char* tmpdir = getenv("TMPDIR");
  std::string root =
      std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") + "/kit_benchmarkXXXXXX";
  if (mkdtemp(&root[0]) == nullptr) Die("cannot make a scratch directory");
  const std::string source = root + "/source", output = root + "/out", temp = root + "/tmp";
  mkdir(source.c_str(), 0700);
  mkdir(output.c_str(), 0700);
  mkdir(temp.c_str(), 0700);
  setenv("TMPDIR", temp.c_str(), 1);

  std::printf("generating %" PRIu64 " MiB of mixed data...\n", mebibytes);
  const std::vector<std::string> names = GenerateFiles(source, mebibytes << 20);

  KitWriter writer;
  writer.AddDescription(
      KitInfo{WideString(u"en"), WideString(u"Bench"), WideString(u"Mark"), WideString(u"")});
  for (const std::string& name : names) {
    if (writer.AddFileEntry(Wide(name), FileTimeFromSystemSeconds(1577836800),
                            Wide(source + "/" + name)) != kSuccess) {
      Die("cannot add " + name);
    }
  }
  const std::string kit_path = root + "/bench.efd";
  Clock::time_point start = Clock::now();
  NarrowString failure;
  if (writer.WriteKit(Wide(kit_path), &failure) != kSuccess) Die(failure.CStr());
  const double pack_seconds = SecondsSince(start);
  struct stat kit_status;
  stat(kit_path.c_str(), &kit_status);
  const uint64_t container_bytes = writer.ContainerBytes();
  std::printf("kit: %zu entries, container %" PRIu64 " bytes, kit %" PRIu64
              " bytes (%.1f%%), packed at %.1f MB/s\n",
              names.size(), container_bytes, static_cast<uint64_t>(kit_status.st_size),
              100.0 * kit_status.st_size / container_bytes,
              MegabytesPerSecond(container_bytes, pack_seconds));

  DistributionKit kit;
  start = Clock::now();
  if (kit.Open(Wide(kit_path)) != kSuccess) Die(kit.FailureReason().CStr());
  const double open_seconds = SecondsSince(start);

  start = Clock::now();
  uint64_t extracted = 0;
  for (std::size_t i = 0; i < kit.EntryCount(); ++i) {
    if (kit.ExtractEntry(i, Wide(output + "/" + std::to_string(i))) != kSuccess) {
      Die("extraction failed");
    }
    extracted += kit.Entry(i).size;
  }
  const double extract_seconds = SecondsSince(start);

  const std::string gzip = root + "/bench.gz";
  const std::string container =
      "/proc/self/fd/" + std::to_string(KitTestAccess::ContainerHandle(kit));
  WriteGzipOfKit(kit_path, container.c_str(), gzip);
  kit.DiscardContainer();
  const double gzip_null_seconds = TimeGzip(gzip, "/dev/null");
  const double gzip_file_seconds = TimeGzip(gzip, root + "/gunzipped");

  struct rusage self;
  getrusage(RUSAGE_SELF, &self);
  std::printf("Open (inflate to the container file + read): %8.1f MB/s  (%.2f s)\n",
              MegabytesPerSecond(container_bytes, open_seconds), open_seconds);
  std::printf("ExtractEntry (all entries to files):        %8.1f MB/s  (%.2f s)\n",
              MegabytesPerSecond(extracted, extract_seconds), extract_seconds);
  std::printf("gzip -dc > /dev/null:                       %8.1f MB/s  (%.2f s)\n",
              MegabytesPerSecond(container_bytes, gzip_null_seconds), gzip_null_seconds);
  std::printf("gzip -dc > file:                            %8.1f MB/s  (%.2f s)\n",
              MegabytesPerSecond(container_bytes, gzip_file_seconds), gzip_file_seconds);
  // Generation, packing, Open and extraction all stream, so the peak stays flat whatever
  // the kit's size.
  std::printf("peak memory (ru_maxrss of this process): %ld KiB\n", self.ru_maxrss);

  nftw(root.c_str(), RemoveNode, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
