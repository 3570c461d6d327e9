#include "fs/temp_file.h"

#include "fs/directory_finder.h"
#include "fs/exclusive_file.h"
#include "fs/system_error.h"
#include "text/path_slashes.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr char kRandomAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLength = 6;
constexpr std::size_t kMaxPrefixBytes = 5;
constexpr char kDefaultPrefix[] = "file";

// Fills bytes with random values: the kernel's generator, or, should it be unavailable, a
// mix of the clock, the process id and salt. Unpredictability only spares retries; safety
// comes from the exclusive creation.
void RandomBytes(unsigned char* bytes, std::size_t count, uint64_t salt) {
  if (getrandom(bytes, count, GRND_NONBLOCK) == static_cast<ssize_t>(count)) return;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^
                   (static_cast<uint64_t>(now.tv_sec) << 20) ^
                   (static_cast<uint64_t>(getpid()) << 40) ^ (salt * 0x9E3779B97F4A7C15u);
  for (std::size_t i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    bytes[i] = static_cast<unsigned char>(state >> 24);
  }
}

// The chosen directory with one "/" at its end, and the prefix: everything of a name but its
// random part.
NarrowString NameBase(const NarrowString& chosen, const NarrowString& prefix) {
  NarrowString base = WithoutTrailingSlashes(chosen);
  AppendSlash(&base);
  if (prefix.Empty()) {
    base.Append(kDefaultPrefix);
  } else {
    base.Append(prefix.Data(), prefix.Length() < kMaxPrefixBytes ? prefix.Length()
                                                                 : kMaxPrefixBytes);
  }
  return base;
}

// The code of a creation that failed with errno: kErrorDiskFull when the file system has no
// room, else kErrorCannotWrite.
ErrorCode CreationCode() {
  return ErrorCodeFromErrno(errno) == kErrorDiskFull ? kErrorDiskFull : kErrorCannotWrite;
}

// Creates a file exclusively under a name by the rule and opens it for reading and writing,
// with a new name whenever the creation finds the name taken, up to kTempFileAttempts names.
// Returns 0 with *descriptor and *name the file's name, or kErrorDiskFull or
// kErrorCannotWrite with *name the last name tried (empty when no name could be made).
ErrorCode CreateNamedFile(const NarrowString& directory, const NarrowString& prefix,
                          NarrowString* name, int* descriptor) {
  name->Clear();
  bool named = true;
  const int opened = CreateExclusiveFile(
      AT_FDCWD,
      [&](int, NarrowString* proposal) {
        named = MakeTempName(directory, prefix, proposal);
        return named;
      },
      O_RDWR, 0600, name);
  if (opened >= 0) {
    *descriptor = opened;
    return kSuccess;
  }
  if (!named || errno == EEXIST) return kErrorCannotWrite;
  return CreationCode();
}

}  // namespace

void AppendRandomNameCharacters(std::size_t count, uint64_t salt, NarrowString* name) {
  for (std::size_t done = 0; done < count; done += kRandomLength) {
    unsigned char random[kRandomLength];
    RandomBytes(random, kRandomLength, salt + done);
    for (std::size_t i = 0; i < kRandomLength && done + i < count; ++i) {
      name->Append(kRandomAlphabet[random[i] % (sizeof(kRandomAlphabet) - 1)]);
    }
  }
}

bool ChooseTempDirectory(const NarrowString& directory, NarrowString* chosen) {
  const char* environment = secure_getenv("TMPDIR");
  if (environment != nullptr && IsDirectoryPath(environment)) {
    *chosen = NarrowString(environment);
  } else if (!directory.Empty() && IsDirectoryPath(directory.CStr())) {
    *chosen = directory;
  } else if (IsDirectoryPath(P_tmpdir)) {
    *chosen = NarrowString(P_tmpdir);
  } else if (std::strcmp(P_tmpdir, "/tmp") != 0 && IsDirectoryPath("/tmp")) {
    *chosen = NarrowString("/tmp");
  } else {
    return false;
  }
  return true;
}

bool MakeTempName(const NarrowString& directory, const NarrowString& prefix,
                  NarrowString* name) {
  NarrowString chosen;
  if (!ChooseTempDirectory(directory, &chosen)) return false;
  const NarrowString base = NameBase(chosen, prefix);
  for (int attempt = 0; attempt < kTempFileAttempts; ++attempt) {
    NarrowString candidate = base;
    AppendRandomNameCharacters(kRandomLength, static_cast<uint64_t>(attempt), &candidate);
    NodeKind kind = NodeKind::kNothing;
    // Only "nothing there" makes a name; a directory that cannot be searched makes none.
    if (QueryNode(candidate.CStr(), &kind) != kSuccess || kind == NodeKind::kPathBlocked) {
      return false;
    }
    if (kind != NodeKind::kNothing) continue;
    *name = candidate;
    return true;
  }
  return false;
}

int CreateFileExclusively(const NarrowString& path) {
  const int descriptor =
      open64(path.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return errno;
  close(descriptor);
  return 0;
}

ErrorCode CreateTempFile(const NarrowString& directory, const NarrowString& prefix,
                         NarrowString* path) {
  int descriptor = -1;
  if (CreateNamedFile(directory, prefix, path, &descriptor) != kSuccess) return kErrorCannotWrite;
  // Nothing was written, so the close has no delayed failure to report.
  close(descriptor);
  return kSuccess;
}

ErrorCode CreateAnonymousFile(const NarrowString& directory, const NarrowString& prefix,
                              int* descriptor) {
  NarrowString chosen;
  if (!ChooseTempDirectory(directory, &chosen)) return kErrorCannotWrite;
  const int anonymous = open64(chosen.CStr(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (anonymous >= 0) {
    *descriptor = anonymous;
    return kSuccess;
  }
  if (ErrorCodeFromErrno(errno) == kErrorDiskFull) return kErrorDiskFull;
  // No O_TMPFILE here: a named file for the moment it takes to unlink it.
  NarrowString name;
  int named = -1;
  const ErrorCode code = CreateNamedFile(directory, prefix, &name, &named);
  if (code != kSuccess) return code;
  // A name that stays would outlive the program, which is what a file without one avoids.
  if (unlink(name.CStr()) != 0) {
    close(named);
    return kErrorCannotWrite;
  }
  *descriptor = named;
  return kSuccess;
}
