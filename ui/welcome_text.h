// The text of the welcome page: IDS_WELCOME_TITLE, a space, the product name, " (", the
// vendor name and ")." in the chosen language. The names come from the kit's description for
// that language; an empty product name is replaced by IDS_DEFPRODUCT and an empty vendor
// name by IDS_DEFPROVIDER. The names are taken as they are (they are shown as plain text).

#ifndef UI_WELCOME_TEXT_H_
#define UI_WELCOME_TEXT_H_

#include "kit/distribution_kit.h"
#include "text/wide_string.h"

WideString WelcomeText(const DistributionKit& kit, const WideString& language_code);

#endif  // UI_WELCOME_TEXT_H_
