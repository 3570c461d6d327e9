#include "kit/distribution_kit.h"

#include "fs/temp_file.h"
#include "kit/container_format.h"
#include "kit/container_reader.h"
#include "kit/inflate_kit.h"
#include "text/locale_conversions.h"

// A failed step of Open: raised inside Open and turned back into its return code there.
struct KitOpenFault {
  ErrorCode code;
  NarrowString reason;
};

static void RaiseOnFailure(ErrorCode code, const NarrowString& reason) {
  if (code != kSuccess) throw KitOpenFault{code, reason};
}

DistributionKit::DistributionKit() : copy_buffer_(new unsigned char[kCopyBufferBytes]) {}

DistributionKit::~DistributionKit() {
  if (container_handle_ != kNoFileHandle) FileClose(container_handle_);
}

ErrorCode DistributionKit::Open(const WideString& kit_path, const KitPublicKey* required_signer) {
  if (container_handle_ != kNoFileHandle) {
    failure_reason_ = "the kit is already open";
    return kErrorInvalidParameter;
  }
  descriptions_.clear();
  failure_reason_.Clear();
  seal_ = KitSeal();
  try {
    // The container has no name: nothing is left in the temporary directory however the
    // program ends, and no other process can reach it.
    int descriptor = -1;
    NarrowString temp_directory;
    const ErrorCode created =
        ToLocaleBytesExact(GetTempDirectory(), &temp_directory)
            ? CreateAnonymousFile(temp_directory, NarrowString(kContainerFilePrefix),
                                  &descriptor)
            : kErrorCannotWrite;
    RaiseOnFailure(created, "the temporary container file cannot be created");
    container_handle_ = descriptor;

    NarrowString reason;
    KitStreamEnd end;
    RaiseOnFailure(
        InflateKitInto(kit_path, container_handle_, &reason, kMaxContainerBytes, &end), reason);
    // The trailer before the container: a kit changed after packing is reported as such,
    // not by whichever record the change happened to break.
    RaiseOnFailure(JudgeKitSeal(end, required_signer, &seal_, &reason), reason);
    RaiseOnFailure(ReadContainer(container_handle_, &descriptions_, &entries_, &reason), reason);
  } catch (const KitOpenFault& fault) {
    entries_.clear();
    ReleaseContainer();
    failure_reason_ = fault.reason;
    return fault.code;
  }
  return kSuccess;
}

void DistributionKit::GetProductInfo(const WideString& language, WideString* product,
                                     WideString* vendor) const {
  for (const KitInfo& info : descriptions_) {
    if (CompareNoCase(info.language, language) == 0) {
      *product = info.product;
      *vendor = info.vendor;
      return;
    }
  }
  product->Clear();
  vendor->Clear();
}

WideString DistributionKit::GetDescriptionDocument(const WideString& language) const {
  for (const KitInfo& info : descriptions_) {
    if (CompareNoCase(info.language, language) == 0) {
      if (!info.description.Empty()) return info.description;
      break;
    }
  }
  const WideString fallback(kDefaultLanguage);
  for (const KitInfo& info : descriptions_) {
    if (CompareNoCase(info.language, fallback) == 0) return info.description;
  }
  return WideString();
}

void DistributionKit::DiscardContainer() {
  entries_.clear();
  ReleaseContainer();
}

void DistributionKit::ReleaseContainer() {
  if (container_handle_ != kNoFileHandle) {
    FileClose(container_handle_);
    container_handle_ = kNoFileHandle;
  }
}
