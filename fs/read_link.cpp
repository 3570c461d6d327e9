#include "fs/read_link.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace {

// The first buffer holds any ordinary target; longer ones double it.
constexpr std::size_t kFirstLinkBufferBytes = 256;

}  // namespace

int ReadLinkAt(int folder, const char* name, NarrowString* target) {
  for (std::size_t size = kFirstLinkBufferBytes;; size *= 2) {
    // One byte more than the largest target allowed: a result that fills it was cut.
    const std::size_t room = size < kLargestLinkTargetBytes ? size : kLargestLinkTargetBytes + 1;
    std::vector<char> buffer(room);
    const ssize_t length = readlinkat(folder, name, buffer.data(), room);
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) < room) {
      *target = NarrowString(buffer.data(), static_cast<std::size_t>(length));
      return 0;
    }
    if (room > kLargestLinkTargetBytes) return ENAMETOOLONG;
  }
}
