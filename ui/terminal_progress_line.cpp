#include "ui/terminal_progress_line.h"

#include <cstdio>

void TerminalProgressLine::Show(const NarrowString& line) {
  if (!wanted_) return;
  if (shown_ && line.Compare(line_) == 0) return;
  line_ = line;
  std::fprintf(stderr, "\r%s\033[K", line.CStr());
  std::fflush(stderr);
  shown_ = true;
}

void TerminalProgressLine::Clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}
