#include "ui/welcome_text.h"

#include "app/string_table.h"

WideString WelcomeText(const DistributionKit& kit, const WideString& language_code) {
  WideString product;
  WideString vendor;
  kit.GetProductInfo(language_code, &product, &vendor);
  if (product.Empty()) product = LoadText(NarrowString("IDS_DEFPRODUCT"));
  if (vendor.Empty()) vendor = LoadText(NarrowString("IDS_DEFPROVIDER"));
  WideString text = LoadText(NarrowString("IDS_WELCOME_TITLE"));
  text.Append(u" ");
  text.Append(product);
  text.Append(u" (");
  text.Append(vendor);
  text.Append(u").");
  return text;
}
