#include "ui/cwnd.h"

WideString CWnd::GetTitle() const { return WideString(); }
