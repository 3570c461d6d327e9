// CowStringTestAccess: what the string tests look at beyond the string's interface: the
// form, the capacity of the storage, the sharing of a block and the growth bands. Only
// tests include this header.

#ifndef TEXT_COW_STRING_TEST_ACCESS_H_
#define TEXT_COW_STRING_TEST_ACCESS_H_

#include <atomic>
#include <cstddef>

#include "text/cow_string.h"

class CowStringTestAccess {
 public:
  template <typename Unit>
  static bool IsLong(const CowString<Unit>& text) {
    return text.IsLong();
  }
  // Units the current storage can hold, the header room included for the long form.
  template <typename Unit>
  static std::size_t Capacity(const CowString<Unit>& text) {
    return text.IsLong() ? text.area_.heap.capacity : CowString<Unit>::kInlineUnits;
  }
  // Number of strings sharing the block; 0 for a short string.
  template <typename Unit>
  static std::size_t BlockRefCount(const CowString<Unit>& text) {
    if (!text.IsLong()) return 0;
    return CowString<Unit>::CountOf(text.area_.heap.block).load(std::memory_order_acquire);
  }
  template <typename Unit>
  static std::size_t RoundCapacity(std::size_t capacity) {
    return CowString<Unit>::RoundCapacity(capacity);
  }
};

#endif  // TEXT_COW_STRING_TEST_ACCESS_H_
