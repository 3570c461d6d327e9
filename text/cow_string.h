// CowString: the value string behind WideString (16-bit units) and NarrowString (bytes).
//
// An object is a 32-bit form word followed by a storage area of kAreaBytes bytes (24 on
// x86-64, 20 on 32-bit x86). It has two forms:
//
//   short  form word = length (0 .. kShortMax); the area holds the units and one zero unit.
//          Copying copies the units; no heap memory is involved.
//
//   long   form word = kInlineUnits (the marker); the area holds three words: the heap block,
//          the end pointer (at the text's zero unit) and the block's capacity in units.
//          The block is laid out as
//
//            [reference count][unit 0 .. unit len-1][0][spare ...]
//             kHeaderUnits     length               1
//
//          The count occupies the room of kHeaderUnits units and the capacity counts that
//          room, so a block of capacity N holds at most N - kHeaderUnits units; it is
//          allocated with N * sizeof(Unit) + sizeof(Unit) bytes (the extra unit holds the
//          terminator of a text that fills the capacity).
//
// Invariants:
//   * the text is always followed by a zero unit (the text itself may contain zeros);
//   * short form implies length <= kShortMax;
//   * long form: capacity >= length + kHeaderUnits, and the reference count equals the
//     number of objects that point at the block;
//   * the long form is sticky: shortening, clearing or assigning shorter text by pointer and
//     count keeps the block; only copy-assigning a short string makes a long one short.
//
// Copy-on-write: copying a long string shares its block (one atomic increment). A string
// that is about to change while its block is shared first forks its own copy; Unshare() is
// the one place where that happens. Counts change only through atomic read-modify-write, so
// copies may travel between threads; one object must not be changed by two threads at once.
//
// Growth: a block is replaced only when it is too small; blocks never shrink. The new
// capacity is what the text needs (assign, plain resize) or the larger of that and 1.5 times
// the old capacity (append, insert, geometric resize), rounded up by the byte bands of
// RoundCapacity(). A short string that outgrows its area moves into a block of exactly the
// needed capacity, without rounding.
//
// Errors: std::out_of_range("basic_string") for a position past the end,
// std::length_error("basic_string") for a result longer than MaxLength(), and std::bad_alloc.

#ifndef TEXT_COW_STRING_H_
#define TEXT_COW_STRING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

template <typename Unit>
class CowString {
 public:
  using size_type = std::size_t;
  static constexpr size_type npos = static_cast<size_type>(-1);

  // The storage area: three 64-bit words on x86-64; 20 bytes on 32-bit x86.
  static constexpr size_type kAreaBytes = sizeof(void*) == 8 ? 24 : 20;
  // Inline capacity in units, terminator included; also the form word of the long form.
  static constexpr uint32_t kInlineUnits = kAreaBytes / sizeof(Unit);
  static constexpr size_type kShortMax = kInlineUnits - 1;
  // The block's reference count is a machine word: 64-bit on x86-64, 32-bit on x86.
  using RefCount = std::atomic<size_type>;
  static constexpr size_type kHeaderUnits = sizeof(RefCount) / sizeof(Unit);

  CowString() noexcept : form_(0) { area_.units[0] = 0; }
  CowString(const Unit* text);  // NOLINT: counts units up to the first zero unit.
  CowString(const Unit* text, size_type count);
  // The units [pos, pos + count) of source; count is clipped to the end.
  CowString(const CowString& source, size_type pos, size_type count = npos);
  CowString(const CowString& other) noexcept;
  CowString(CowString&& other) noexcept;
  ~CowString();

  CowString& operator=(const CowString& other) noexcept;
  CowString& operator=(CowString&& other) noexcept;
  CowString& operator=(const Unit* text) { return Assign(text, UnitCount(text)); }

  CowString& Assign(const Unit* text, size_type count);
  CowString& Append(const CowString& other, size_type pos = 0, size_type count = npos);
  // Appending to a string with room to spare (and a block of its own) is done inline; the
  // rest, growth and forking included, goes through AppendSlow.
  CowString& Append(const Unit* text, size_type count) {
    if (IsLong()) {
      Unit* end = area_.heap.end;
      size_type room = area_.heap.capacity - kHeaderUnits - static_cast<size_type>(end - Text());
      if (count <= room && !PointsInto(text) &&
          CountOf(area_.heap.block).load(std::memory_order_acquire) == 1) {
        CopyUnits(end, text, count);
        area_.heap.end = end + count;
        *area_.heap.end = 0;
        return *this;
      }
    } else if (count <= kShortMax - form_ && !PointsInto(text)) {
      CopyUnits(area_.units + form_, text, count);
      form_ += static_cast<uint32_t>(count);
      area_.units[form_] = 0;
      return *this;
    }
    return AppendSlow(text, count);
  }
  CowString& Append(const Unit* text) { return Append(text, UnitCount(text)); }
  CowString& Append(Unit unit) { return Append(&unit, 1); }
  CowString& operator+=(const CowString& other) { return Append(other); }
  CowString& operator+=(const Unit* text) { return Append(text); }
  CowString& operator+=(Unit unit) { return Append(unit); }
  // Inserts the units [first, last) before position pos.
  CowString& Insert(size_type pos, const Unit* first, const Unit* last);
  // Shortening keeps the first n units; lengthening only sets the length and leaves the new
  // units unspecified for the caller to fill through MutableData().
  void Resize(size_type n, bool geometric = false);
  CowString& Erase(size_type pos = 0, size_type count = npos);
  void Clear() { Erase(0, npos); }

  size_type Length() const noexcept {
    return IsLong() ? static_cast<size_type>(area_.heap.end - Text()) : form_;
  }
  bool Empty() const noexcept { return Length() == 0; }
  const Unit* Data() const noexcept { return IsLong() ? Text() : area_.units; }
  const Unit* CStr() const noexcept { return Data(); }
  // Writable units; forks a shared block first.
  Unit* MutableData();
  Unit operator[](size_type i) const noexcept { return Data()[i]; }
  const Unit* begin() const noexcept { return Data(); }
  const Unit* end() const noexcept { return Data() + Length(); }

  // First position >= from where the pattern occurs, else npos; always npos in an empty
  // string, even for an empty pattern.
  size_type FindUnits(const Unit* pattern, size_type count, size_type from = 0) const noexcept;
  size_type Find(const CowString& pattern, size_type from = 0) const noexcept {
    return FindUnits(pattern.Data(), pattern.Length(), from);
  }
  size_type Find(const Unit* pattern, size_type from = 0) const noexcept {
    return FindUnits(pattern, UnitCount(pattern), from);
  }
  // Last position holding any unit of the set, scanning backwards from the last unit.
  size_type FindLastOfUnits(const Unit* set, size_type count) const noexcept;
  size_type FindLastOf(const Unit* set) const noexcept {
    return FindLastOfUnits(set, UnitCount(set));
  }
  // Exact comparison of length and units with a zero-terminated text.
  bool Equals(const Unit* text) const noexcept;
  // memcmp order over the shorter length (units compared unsigned), then shorter first.
  int Compare(const CowString& other) const noexcept;

  // Replaces every non-overlapping match of pattern, left to right, and returns the number
  // of replacements. An empty pattern or an empty string changes nothing.
  size_type ReplaceAll(const CowString& pattern, const CowString& replacement);
  // Digits 0-9 then a-z. Radix 10 writes a negative value with a minus sign; any other
  // radix writes the value as unsigned 32-bit. A radix outside 2..36 raises out_of_range.
  static CowString FormatInteger(int32_t value, unsigned radix);
  // The text a followed by b; a result longer than kShortMax gets a block of exactly
  // length + kHeaderUnits.
  static CowString Concatenate(const Unit* a, size_type la, const Unit* b, size_type lb);

  static constexpr size_type MaxLength() noexcept {
    return static_cast<size_type>(PTRDIFF_MAX) / sizeof(Unit) - kHeaderUnits - 1;
  }

  static size_type UnitCount(const Unit* text) noexcept;

 private:
  // Tests look at the form, the capacity and the sharing (text/cow_string_test_access.h).
  friend class CowStringTestAccess;

  enum class Growth { kExact, kGeometric };
  struct Heap {
    char* block;
    Unit* end;
    size_type capacity;
  };
  union Area {
    Unit units[kInlineUnits];
    Heap heap;
  };

  struct ExactTag {};
  // A string of the given length whose storage is short or a block of exactly
  // length + kHeaderUnits; the units are left for the caller to fill.
  CowString(ExactTag, size_type length);

  // Bytes allocated for a block of the given capacity.
  static constexpr size_type BlockBytes(size_type capacity) noexcept {
    return capacity * sizeof(Unit) + sizeof(Unit);
  }
  // The growth bands: the capacity in bytes is rounded up to a multiple of 8 up to 256
  // bytes, 16 up to 512, 32 up to 1023, 64 up to 2047, 128 up to 4095, 256 up to 8191,
  // 512 up to 16383; from 16384 bytes on it is not rounded.
  static size_type RoundCapacity(size_type capacity) noexcept;

  bool IsLong() const noexcept { return form_ == kInlineUnits; }
  static char* NewBlock(size_type capacity);
  static void ReleaseBlock(char* block) noexcept;
  static RefCount& CountOf(char* block) noexcept { return *reinterpret_cast<RefCount*>(block); }
  Unit* Text() const noexcept {
    return reinterpret_cast<Unit*>(area_.heap.block) + kHeaderUnits;
  }
  Unit* RawData() noexcept { return IsLong() ? Text() : area_.units; }
  bool PointsInto(const Unit* p) const noexcept {
    const Unit* d = Data();
    return p >= d && p <= d + Length();
  }

  CowString& AppendSlow(const Unit* text, size_type count);
  static void CopyUnits(Unit* to, const Unit* from, size_type count) noexcept {
    for (size_type i = 0; i < count; ++i) to[i] = from[i];
  }
  void Unshare();
  // Makes room for new_length units in writable storage, keeping the current units. Does
  // not change the length.
  Unit* Reserve(size_type new_length, Growth growth);
  // Moves the units and their terminator into a new block of capacity units (at least
  // length + kHeaderUnits) and gives up the block held before, if any; the string is long
  // afterwards. Returns the new text.
  Unit* MoveToNewBlock(size_type capacity);
  void SetLength(size_type n) noexcept;
  static void CheckLength(size_type current, size_type added);

  uint32_t form_;
  Area area_;
};

template <typename Unit>
CowString<Unit> operator+(const CowString<Unit>& a, const CowString<Unit>& b);
template <typename Unit>
CowString<Unit> operator+(const CowString<Unit>& a, const Unit* b);
template <typename Unit>
bool operator==(const CowString<Unit>& a, const CowString<Unit>& b) noexcept;
template <typename Unit>
bool operator!=(const CowString<Unit>& a, const CowString<Unit>& b) noexcept {
  return !(a == b);
}
template <typename Unit>
bool operator<(const CowString<Unit>& a, const CowString<Unit>& b) noexcept {
  return a.Compare(b) < 0;
}

extern template class CowString<char16_t>;
extern template class CowString<char>;

#endif  // TEXT_COW_STRING_H_
