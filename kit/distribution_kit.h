// DistributionKit: an opened distribution kit.
//
// Open inflates the kit file into a temporary container file in the temporary directory,
// reads its description records and its file table, and keeps the container open;
// ExtractEntry then copies entries out of it through the kit's one 1 MiB copy buffer. The
// container file has no name (fs/temp_file.h, CreateAnonymousFile): it goes when its handle
// is closed, or when the program ends in whatever way, so no run leaves it behind.
// The container format is described in kit/container_format.h.
//
// An Open given a look (kit/early_look.h) hands it the file table as soon as the records are
// inflated; when it answers that no entry needs writing, the data area is inflated only to
// judge it, not stored: the kit then holds its records, and StoreData inflates the kit again
// before the first entry is copied. Every check of the kit is the same with or without a
// look.
//
// States:
//   new      no description records, empty file table, handle -1;
//   opened   records and table filled, entry offsets absolute container positions, the
//            container is open for reading and writing; it holds the entries' data, or
//            (after a look that found nothing to write) not yet, until StoreData;
//   failed   (Open returned non-zero) file table empty, handle -1, container gone;
//            the description records read before the failure stay.
// Destroying the kit closes the container handle, and with it the container goes.
//
// Threads: Open and the lookups run on the user-interface thread; during an installation the
// worker alone uses the file table, the container handle and the copy buffer (ExtractEntry
// is not reentrant: one extraction at a time). The kit has no lock of its own. The copy that
// takes a buffer of its own changes nothing in the kit and may run on several threads.

#ifndef KIT_DISTRIBUTION_KIT_H_
#define KIT_DISTRIBUTION_KIT_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_handle.h"
#include "kit/early_look.h"
#include "kit/kit_records.h"
#include "kit/kit_seal.h"
#include "kit/kit_trailer.h"
#include "kit/temp_directory.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

class DistributionKit {
 public:
  DistributionKit();
  ~DistributionKit();
  DistributionKit(const DistributionKit&) = delete;
  DistributionKit& operator=(const DistributionKit&) = delete;

  // Opens the kit at kit_path: creates the container file, inflates the kit into it, judges
  // its integrity trailer (kit/kit_seal.h; required_signer, when not null, is the key that
  // must have signed the kit) and reads the container (kit/container_reader.h). Returns 0,
  // or the code of the step that failed (1013 container not created, 112 no room for the
  // container, 2 or 87 from the file layer, 13 invalid DEFLATE data, a damaged or missing
  // trailer or signature, or a damaged container); on failure the file table is emptied and
  // the container closed (and so gone). Meant to be called once: on a kit that is already
  // open it returns 87 and changes nothing.
  // look, when given, is asked on a thread of its own, joined before Open returns, whether
  // an entry needs writing; when it says no before the stream ends, the data is not stored.
  ErrorCode Open(const WideString& kit_path, const KitPublicKey* required_signer = nullptr,
                 const KitLook& look = KitLook());

  // Whether the container holds the entries' data.
  bool DataStored() const { return data_stored_; }

  // Makes the container hold the entries' data: after an Open whose look found nothing to
  // write, inflates the kit file again into it; otherwise does nothing. The kit file must
  // still be the kit that was opened: the same stream (its length and SHA-256) inflating to
  // the same length. Returns 0, or kErrorInvalidHandle (6) when no container is open, the
  // inflation's codes (kErrorDiskFull for a full disk, 2 for a kit file that is gone), or
  // kErrorInvalidData (13) when the kit file no longer is that kit or no longer inflates;
  // FailureReason then says why, and the data stays not stored. Runs on the thread that
  // copies entries, before any of them is copied.
  ErrorCode StoreData();

  // What the trailer of the kit last opened showed (valid after a successful Open).
  const KitSeal& Seal() const { return seal_; }

  // What made the last Open fail, for people (efdtool verify); empty after a success.
  const NarrowString& FailureReason() const { return failure_reason_; }

  // Product and vendor of the first description whose language equals language without
  // regard to case (CompareNoCase); both empty when none does.
  void GetProductInfo(const WideString& language, WideString* product, WideString* vendor) const;

  // The description document of the first description for language, if that one is not
  // empty; otherwise that of the first "en" description (even if empty); otherwise empty.
  WideString GetDescriptionDocument(const WideString& language) const;

  // The description records in container order.
  std::size_t DescriptionCount() const { return descriptions_.size(); }
  const KitInfo& Description(std::size_t index) const { return descriptions_[index]; }

  // The file table in container order; index must be below EntryCount().
  std::size_t EntryCount() const { return entries_.size(); }
  const KitEntry& Entry(std::size_t index) const { return entries_[index]; }

  // Copies entry index into the file at destination (created when missing, cut to the
  // entry's size) and stamps it with the entry's time in whole seconds. Returns 0, or:
  //   the open's code when the destination cannot be opened (2 if a directory on the path
  //     is missing, else 87);
  //   kErrorInvalidParameter (87) when index is not in the file table;
  //   kErrorInvalidHandle (6) when the container is not open or does not hold the data
  //     (DataStored() is false: StoreData first);
  //   the file layer's code when reading the container, or writing, cutting or closing the
  //     destination fails;
  //   kErrorInvalidData (13) when the container ends before the entry's data does.
  // A failure to stamp the time is ignored. The destination exists from the open on, also
  // after a failure; its handle is closed on every path.
  ErrorCode ExtractEntry(std::size_t index, const WideString& destination);

  // ExtractEntry's copy into a file the caller has opened for writing at position 0: the
  // entry's bytes, the cut at their end (not needed when output_is_new: a new, empty file)
  // and the stamp. The caller closes output (and must look at the close's code). Codes as
  // ExtractEntry, without those of the open and close. The container's position is neither
  // used nor moved.
  ErrorCode CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new = false);
  // The same through buffer (kCopyBufferBytes long) instead of the kit's own: copies on
  // several threads at once, each with a buffer of its own. The container is only read at
  // explicit positions, so concurrent copies do not disturb each other.
  ErrorCode CopyEntryTo(std::size_t index, FileHandle output, bool output_is_new,
                        unsigned char* buffer) const;

  // Closes the container (which removes it) and empties the file table, for callers that
  // open a kit only to look at it. The description records stay.
  void DiscardContainer();

 private:
  // Tests reach the container through its handle (kit/kit_test_access.h).
  friend class KitTestAccess;

  // Closes the handle, if there is one.
  void ReleaseContainer();

  std::vector<KitInfo> descriptions_;
  std::vector<KitEntry> entries_;
  FileHandle container_handle_ = kNoFileHandle;
  // Allocated with the kit and left uninitialised: its pages are only touched when a copy
  // cannot be made in the kernel.
  std::unique_ptr<unsigned char[]> copy_buffer_;
  NarrowString failure_reason_;
  KitSeal seal_;
  // Whether the container holds the data, and what the kit file was when it was opened, so
  // that StoreData can inflate it again and prove it the same kit.
  bool data_stored_ = false;
  WideString kit_path_;
  KitStreamEnd opened_stream_;
};

#endif  // KIT_DISTRIBUTION_KIT_H_
