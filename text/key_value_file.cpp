#include "text/key_value_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "text/locale_conversions.h"

namespace {

constexpr std::size_t kRawChunkBytes = 1024;
constexpr std::size_t kDecodedUnits = 2048;
constexpr std::size_t kLineBufferUnits = 2048;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Delivers decoded units, one refill at a time. Multibyte refills read up to 1024 bytes;
// the bytes of a character cut by the chunk's end are carried over to the next refill, so
// every character is decoded whole.
class UnitSource {
 public:
  explicit UnitSource(std::FILE* file) : file_(file) {}

  // Refills the unit buffer; returns the number of units, 0 at the end of the file.
  std::size_t Refill(char16_t* units) {
    for (;;) {
      std::size_t got = at_end_ ? 0 : std::fread(raw_ + carried_, 1, kRawChunkBytes, file_);
      if (got < kRawChunkBytes) at_end_ = true;
      std::size_t available = carried_ + got;
      if (available == 0) return 0;
      std::size_t consumed = 0;
      std::size_t n = DecodeLocaleChunk(raw_, available, at_end_, units, &consumed);
      carried_ = available - consumed;
      std::memmove(raw_, raw_ + consumed, carried_);
      if (n > 0 || at_end_) return n;
    }
  }

 private:
  std::FILE* file_;
  bool at_end_ = false;
  std::size_t carried_ = 0;
  // Room for one chunk plus the bytes of a character carried over from the last one.
  char raw_[kRawChunkBytes + 16];
};

class LineSplitter {
 public:
  explicit LineSplitter(const KeyValueReceiver& receiver) : receiver_(receiver) {}

  void Take(char16_t unit) {
    if (unit == u'\n') {
      EndLine();
      return;
    }
    if (unit == u'=' && !in_value_) {
      Flush();
      in_value_ = true;
      return;
    }
    if (collected_ == kLineBufferUnits) Flush();
    line_[collected_++] = unit;
  }

  void EndLine() {
    Flush();
    if (!key_.Empty() || !value_.Empty()) receiver_(key_, value_);
    key_.Clear();
    value_.Clear();
    in_value_ = false;
  }

 private:
  void Flush() {
    (in_value_ ? value_ : key_).Append(line_, collected_);
    collected_ = 0;
  }

  const KeyValueReceiver& receiver_;
  WideString key_;
  WideString value_;
  bool in_value_ = false;
  std::size_t collected_ = 0;
  char16_t line_[kLineBufferUnits];
};

// The regular file at path (symbolic links followed), open for reading; null otherwise.
std::FILE* OpenRegularFileForReading(const WideString& path) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return nullptr;
  // Opening a device can act on it, so anything but a regular file is not opened at all.
  // Should the node be swapped in between, O_NONBLOCK keeps a FIFO from waiting for a
  // writer and the check on the open file rejects it; regular files ignore the flag.
  struct stat st;
  if (stat(bytes.CStr(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const int fd = open(bytes.CStr(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

void ReadKeyValueFile(const WideString& path, const KeyValueReceiver& receiver) {
  FilePtr file(OpenRegularFileForReading(path));
  if (!file) return;
  auto source = std::make_unique<UnitSource>(file.get());
  auto splitter = std::make_unique<LineSplitter>(receiver);
  char16_t units[kDecodedUnits];
  while (std::size_t n = source->Refill(units)) {
    for (std::size_t i = 0; i < n; ++i) splitter->Take(units[i]);
  }
  splitter->EndLine();
}
