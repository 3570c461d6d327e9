#include "fs/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "fs/beneath.h"

namespace {

ReplaceStep Failed(ReplaceStep step, int error, int* error_number) {
  *error_number = error;
  return step;
}

}  // namespace

ReplaceStep PutInPlace(int folder, int descriptor, const char* temp_name, const char* name,
                       ReplaceDurability durability, int* error_number) {
  const bool durable = durability == ReplaceDurability::kDataThenFolder;
  int error = 0;
  if (durable && fsync(descriptor) != 0) error = errno;
  if (close(descriptor) != 0 && error == 0) error = errno;
  if (error != 0) {
    unlinkat(folder, temp_name, 0);
    return Failed(ReplaceStep::kWrite, error, error_number);
  }
  if (renameat(folder, temp_name, folder, name) != 0) {
    error = errno;
    unlinkat(folder, temp_name, 0);
    return Failed(ReplaceStep::kRename, error, error_number);
  }
  if (durable && fsync(folder) != 0 && errno != EINVAL) {
    return Failed(ReplaceStep::kSync, errno, error_number);
  }
  return ReplaceStep::kDone;
}

ReplaceStep PutCopyInPlace(int folder, const char* temp_name, const char* name,
                           int* error_number) {
  if (!SyncEntry(folder, temp_name)) {
    const int error = errno;
    unlinkat(folder, temp_name, 0);
    return Failed(ReplaceStep::kWrite, error, error_number);
  }
  if (renameat(folder, temp_name, folder, name) != 0) {
    const int error = errno;
    unlinkat(folder, temp_name, 0);
    return Failed(ReplaceStep::kRename, error, error_number);
  }
  if (!SyncEntry(folder, name)) return Failed(ReplaceStep::kSync, errno, error_number);
  return ReplaceStep::kDone;
}
