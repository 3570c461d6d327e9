#include "install/run_observer.h"

const char* EntryActionName(EntryAction action) {
  switch (action) {
    case EntryAction::kNew:
      return "new";
    case EntryAction::kReplaced:
      return "replaced";
    case EntryAction::kUpToDate:
      break;
  }
  return "up-to-date";
}
