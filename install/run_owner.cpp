#include "install/run_owner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The first line of a small file under /proc, without its line feed; empty when unreadable.
NarrowString ReadSmallFile(const char* path) {
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return NarrowString();
  char buffer[1024];
  const ssize_t got = read(descriptor, buffer, sizeof buffer - 1);
  close(descriptor);
  if (got <= 0) return NarrowString();
  std::size_t length = static_cast<std::size_t>(got);
  while (length > 0 && buffer[length - 1] == '\n') --length;
  return NarrowString(buffer, length);
}

NarrowString BootId() { return ReadSmallFile("/proc/sys/kernel/random/boot_id"); }

// The host: its name and its machine id. A name alone is not enough: two machines of one
// name may share a network file system. Empty when either cannot be read.
NarrowString HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return NarrowString();
  const NarrowString machine = ReadSmallFile("/etc/machine-id");
  if (machine.Empty() || name[0] == '\0') return NarrowString();
  NarrowString host(name);
  host.Append(" ");
  host.Append(machine);
  return host;
}

// Field 22 of /proc/<pid>/stat: the process's start time in clock ticks since boot. 0 when
// there is no such process. The name in field 2 may hold anything, so fields are counted
// from its closing parenthesis.
uint64_t StartTicks(uint32_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  const NarrowString stat = ReadSmallFile(path);
  const char* text = stat.CStr();
  const char* close_paren = std::strrchr(text, ')');
  if (close_paren == nullptr) return 0;
  const char* field = close_paren + 1;
  // After ")" come field 3 (state) onwards; the start time is the 20th of them.
  for (int i = 3; i < 22 && field != nullptr; ++i) {
    field = std::strchr(field + 1, ' ');
  }
  if (field == nullptr) return 0;
  return std::strtoull(field + 1, nullptr, 10);
}

}  // namespace

RunOwner CurrentRunOwner(const NarrowString& run_number) {
  RunOwner record;
  record.pid = static_cast<uint32_t>(getpid());
  // This process's own entry, as another process would read it.
  record.start_ticks = StartTicks(record.pid);
  record.run_number = run_number;
  record.boot_id = BootId();
  record.host = HostName();
  return record;
}

OwnerState JudgeRunOwner(const RunOwner& owner) {
  const NarrowString host = HostName();
  const NarrowString boot = BootId();
  // A record with a field it could not fill proves nothing.
  if (host.Empty() || boot.Empty() || owner.boot_id.Empty() || owner.pid == 0 ||
      owner.start_ticks == 0 || !(owner.host == host)) {
    return OwnerState::kUnknown;
  }
  // The same machine, booted since: every process of the earlier boot has ended.
  if (!(owner.boot_id == boot)) return OwnerState::kEnded;
  const uint64_t ticks = StartTicks(owner.pid);
  return ticks != 0 && ticks == owner.start_ticks ? OwnerState::kAlive : OwnerState::kEnded;
}
