// TerminalProgressLine: the one line a silent run without a window keeps on the terminal of
// standard error while it copies. It is rewritten in place only when it changes, and taken
// away before anything else is written there, so that no message shares its line.

#ifndef UI_TERMINAL_PROGRESS_LINE_H_
#define UI_TERMINAL_PROGRESS_LINE_H_

#include "text/narrow_string.h"

class TerminalProgressLine {
 public:
  // Whether the line is shown at all (set for each run).
  void SetWanted(bool wanted) { wanted_ = wanted; }
  bool wanted() const { return wanted_; }

  // Puts line in place of the one shown (a line the same as the one shown is not written
  // again); nothing unless wanted.
  void Show(const NarrowString& line);
  // Takes the line away, when one is shown.
  void Clear();

 private:
  bool wanted_ = false;
  bool shown_ = false;
  NarrowString line_;
};

#endif  // UI_TERMINAL_PROGRESS_LINE_H_
