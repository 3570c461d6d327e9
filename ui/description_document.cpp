#include "ui/description_document.h"

#include "fs/shell_commands.h"
#include "text/locale_conversions.h"

WideString DescriptionDocumentPath(const WideString& target_directory,
                                   const WideString& document_name) {
  if (document_name.Empty()) return WideString();
  WideString path = target_directory;
  const std::size_t length = path.Length();
  if (length > 0 && path[length - 1] != u'/' && path[length - 1] != u'\\') path.Append(u'/');
  path.Append(document_name);
  path.ReplaceAll(WideString(u"\\"), WideString(u"/"));
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
