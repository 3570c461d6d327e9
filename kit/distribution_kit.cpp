#include "kit/distribution_kit.h"

#include <cstring>

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

ErrorCode DistributionKit::Open(const WideString& kit_path, const KitPublicKey* required_signer,
                                const KitLook& look) {
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
    // Destroyed on every path out of this block, which joins the look's thread.
    std::unique_ptr<EarlyLook> early(look ? new EarlyLook(look) : nullptr);
    RaiseOnFailure(InflateKitInto(kit_path, container_handle_, &reason, kMaxContainerBytes, &end,
                                  early.get()),
                   reason);
    if (early) early->Join();
    // The trailer before the container: a kit changed after packing is reported as such,
    // not by whichever record the change happened to break.
    RaiseOnFailure(JudgeKitSeal(end, required_signer, &seal_, &reason), reason);
    if (end.stored) {
      RaiseOnFailure(ReadContainer(container_handle_, &descriptions_, &entries_, &reason),
                     reason);
    } else {
      // The records were read with the reader's checks as they were inflated; what needs the
      // container's size is checked against the length the stream inflated to.
      uint64_t data_start = 0;
      early->TakeRecords(&descriptions_, &entries_, &data_start);
      RaiseOnFailure(PlaceContainerEntries(data_start, end.container_bytes, &entries_, &reason),
                     reason);
    }
    data_stored_ = end.stored;
    kit_path_ = kit_path;
    end.tail.clear();
    opened_stream_ = end;
  } catch (const KitOpenFault& fault) {
    entries_.clear();
    ReleaseContainer();
    failure_reason_ = fault.reason;
    return fault.code;
  }
  return kSuccess;
}

// Whether two inflations of a kit file read the same stream into the same container.
static bool SameStream(const KitStreamEnd& first, const KitStreamEnd& second) {
  return first.ended == second.ended && first.stream_bytes == second.stream_bytes &&
         first.container_bytes == second.container_bytes &&
         std::memcmp(first.digest, second.digest, kDigestBytes) == 0;
}

ErrorCode DistributionKit::StoreData() {
  if (container_handle_ == kNoFileHandle) return kErrorInvalidHandle;
  if (data_stored_) return kSuccess;
  NarrowString reason;
  KitStreamEnd end;
  ErrorCode code = FileSeek(container_handle_, 0, kFileSeekBegin) == 0
                       ? InflateKitInto(kit_path_, container_handle_, &reason,
                                        kMaxContainerBytes, &end)
                       : LastErrorCode();
  if (code == kSuccess && !SameStream(opened_stream_, end)) {
    // The records in hand describe the kit that was opened, not this one.
    code = kErrorInvalidData;
    reason = "the kit file changed after it was opened";
  }
  if (code != kSuccess) {
    failure_reason_ = reason.Empty() ? NarrowString("the container cannot be rewound") : reason;
    return code;
  }
  data_stored_ = true;
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
  data_stored_ = false;
  if (container_handle_ != kNoFileHandle) {
    FileClose(container_handle_);
    container_handle_ = kNoFileHandle;
  }
}
