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
// Content is multibyte text in the locale's encoding unless the open call itself consumed
// a byte-order mark (then it is UTF-16 units in the platform's byte order); the C library
// never does that, so files are read as multibyte text. Bytes that are not valid in the
// encoding are read as surrogate escapes (text/locale_conversions.h), so a line written
// back gets exactly its bytes again.

#ifndef TEXT_KEY_VALUE_FILE_H_
#define TEXT_KEY_VALUE_FILE_H_

#include <cstdio>
#include <functional>

#include "text/wide_string.h"

// The regular file at path (symbolic links followed), open for reading; null when it cannot
// be opened, its path cannot be encoded, or it is no regular file. Nothing else is ever
// waited for: a FIFO, a device or a socket counts as no file at all.
std::FILE* OpenRegularFileForReading(const WideString& path);

using KeyValueReceiver = std::function<void(const WideString& key, const WideString& value)>;

// Hands every (key, value) pair of the file to the receiver, in file order. A file that
// OpenRegularFileForReading does not open gives no pairs. An exception (allocation, or one
// the receiver throws) leaves the reader with the stream closed; the pairs already handed
// over stay delivered.
void ReadKeyValueFile(const WideString& path, const KeyValueReceiver& receiver);

#endif  // TEXT_KEY_VALUE_FILE_H_
