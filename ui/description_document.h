// Opening the kit's description document after a successful installation: the document
// lies in the template directory under the name the kit gives for the chosen language, and
// is opened with the desktop's default application through "xdg-open".

#ifndef UI_DESCRIPTION_DOCUMENT_H_
#define UI_DESCRIPTION_DOCUMENT_H_

#include "text/narrow_string.h"
#include "text/wide_string.h"

// The document's full path: the target directory, a "/" when the directory ends in neither
// "/" nor "\" (the installation put the files below that separator), then the document
// name; every "\" becomes "/". Empty when the document name is empty (there is nothing to
// open).
WideString DescriptionDocumentPath(const WideString& target_directory,
                                   const WideString& document_name);

// The command that opens path: xdg-open "<path>" 2>/dev/null, with the path converted with
// ToLocaleBytesExact and quoted as one literal shell word (QuoteShellPath). Empty when the
// path cannot be encoded: no command could name that file.
NarrowString DescriptionOpenCommand(const WideString& path);

#endif  // UI_DESCRIPTION_DOCUMENT_H_
