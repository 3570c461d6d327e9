// The one line that a silent run without a window shows on a terminal while it copies: the
// percentage, the entries done of all, and the current path, cut to the terminal's width.

#ifndef APP_PROGRESS_LINE_H_
#define APP_PROGRESS_LINE_H_

#include <cstdint>

#include "text/narrow_string.h"
#include "text/wide_string.h"

// "PPP% DONE/TOTAL PATH" in the locale's encoding, at most columns - 1 columns wide (the
// last column stays free, so that no terminal wraps the line). A path that does not fit
// loses its beginning, shown as "...". Characters count as wide as wcwidth(3) says (one
// where it knows none). columns below 20 count as 20.
NarrowString ProgressLine(int32_t percent, uint64_t done, uint64_t total, const WideString& path,
                          int columns);

// The width of the terminal on descriptor, or 80 when it reports none.
int TerminalColumns(int descriptor);

#endif  // APP_PROGRESS_LINE_H_
