// CWnd: the base of the installer's windows. The one thing every window can be asked is its
// title, which message boxes owned by the window carry as theirs.

#ifndef UI_CWND_H_
#define UI_CWND_H_

#include "text/wide_string.h"

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // The caption for message boxes owned by this window; a window without one gives an
  // empty text.
  virtual WideString GetTitle() const;
};

#endif  // UI_CWND_H_
