#include "ui/description_document.h"

#include "fs/shell_commands.h"
#include "text/locale_conversions.h"
#include "text/path_slashes.h"

WideString DescriptionDocumentPath(const WideString& target_directory,
                                   const WideString& document_name) {
  if (document_name.Empty()) return WideString();
  WideString path = target_directory;
  if (!path.Empty()) AppendSlashUnlessSeparator(&path);
  path.Append(document_name);
  UseForwardSlashes(&path);
  return path;
}

NarrowString DescriptionOpenCommand(const WideString& path) {
  NarrowString bytes;
  if (!ToLocaleBytesExact(path, &bytes)) return NarrowString();
  NarrowString command("xdg-open ");
  command.Append(QuoteShellPath(bytes));
  command.Append(" 2>/dev/null");
  return command;
}
