// KitTestAccess: what the kit's tests (and the kit benchmark) reach beyond the kit's
// interface: the handle of an open kit's container, through which they read it or cut it
// short to damage it. Only tests include this header.

#ifndef KIT_KIT_TEST_ACCESS_H_
#define KIT_KIT_TEST_ACCESS_H_

#include "fs/file_handle.h"
#include "kit/distribution_kit.h"

class KitTestAccess {
 public:
  // The container's file-layer handle; kNoFileHandle while none is open.
  static FileHandle ContainerHandle(const DistributionKit& kit) { return kit.container_handle_; }
};

#endif  // KIT_KIT_TEST_ACCESS_H_
