// TargetDirectory: the template directory of a run, made once where the directory enters the
// program (the settings' location rule, the directory page, --target) and handed as it is to
// the progress channel and the transaction, which neither convert, check nor extend it again.
//
// Two forms of one path:
//   Text()   the path as it was given, with "/" appended unless it is empty or already ends
//            in "/" or "\" (the progress channel's contract); the progress lines are this
//            text followed by an entry's path;
//   Bytes()  Text() in the locale's encoding, ending in "/": the directory the run opens.
// Problem() says why a directory cannot be installed into: the path cannot be encoded whole
// (87), or it is empty or relative (3, a relative path would be taken from a current
// directory nobody sees). Bytes() is empty then. The run reports the problem when it begins,
// so a directory that cannot be used fails the run, not the place it was given at.

#ifndef FS_TARGET_DIRECTORY_H_
#define FS_TARGET_DIRECTORY_H_

#include "fs/error_codes.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

class TargetDirectory {
 public:
  // No directory: empty text, Problem() 3.
  TargetDirectory();
  explicit TargetDirectory(const WideString& path);

  const WideString& Text() const { return text_; }
  const NarrowString& Bytes() const { return bytes_; }
  ErrorCode Problem() const { return problem_; }
  // Whether the text starts at the root, whether or not it can be encoded.
  bool IsAbsolute() const { return !text_.Empty() && text_[0] == u'/'; }

 private:
  WideString text_;
  NarrowString bytes_;
  ErrorCode problem_;
};

#endif  // FS_TARGET_DIRECTORY_H_
