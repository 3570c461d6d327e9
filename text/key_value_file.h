// Reading of line-oriented key/value text files (the launcher's settings files).
//
// A file is read in fixed chunks and cut into lines at the line feed (unit 10); the first
// "=" of a line ends the key and everything after it, further "=" included, is the value.
// Nothing is trimmed or skipped: a carriage return stays at the end of its key or value, a
// byte-order mark becomes the first unit of the first key, a line without "=" is a key with
// an empty value, and a line whose key and value are both empty is dropped. Keys and
// values have no length limit. Memory stays at the fixed buffers plus the current key and
// value, whatever the file's size.
//
// Content is multibyte text in the locale's encoding. Bytes that are not valid in the
// encoding are read as surrogate escapes (text/locale_conversions.h), so a line written
// back gets exactly its bytes again.

#ifndef TEXT_KEY_VALUE_FILE_H_
#define TEXT_KEY_VALUE_FILE_H_

#include <cstdio>
#include <functional>

#include "text/wide_string.h"

using KeyValueReceiver = std::function<void(const WideString& key, const WideString& value)>;

// Hands every (key, value) pair of the file to the receiver, in file order. Only a regular
// file (symbolic links followed) is opened: a path that cannot be encoded, a FIFO, a device
// or a socket is never waited for and gives no pairs, as a missing file does. An exception (allocation, or one
// the receiver throws) leaves the reader with the stream closed; the pairs already handed
// over stay delivered.
void ReadKeyValueFile(const WideString& path, const KeyValueReceiver& receiver);

#endif  // TEXT_KEY_VALUE_FILE_H_
