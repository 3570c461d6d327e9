// ByteSink: where the kit writer sends the container's bytes, front to back (a raw DEFLATE
// kit file, or the plain container).

#ifndef KIT_BYTE_SINK_H_
#define KIT_BYTE_SINK_H_

#include <cstddef>

#include "fs/error_codes.h"

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes the next length bytes; returns 0 or the code of a failed write.
  virtual ErrorCode Write(const unsigned char* data, std::size_t length) = 0;
};

#endif  // KIT_BYTE_SINK_H_
