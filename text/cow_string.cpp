#include "text/cow_string.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void ThrowOutOfRange() { throw std::out_of_range("basic_string"); }
[[noreturn]] void ThrowLength() { throw std::length_error("basic_string"); }

}  // namespace

template <typename Unit>
typename CowString<Unit>::size_type CowString<Unit>::UnitCount(const Unit* text) noexcept {
  size_type n = 0;
  while (text[n] != 0) ++n;
  return n;
}

template <typename Unit>
typename CowString<Unit>::size_type CowString<Unit>::RoundCapacity(size_type capacity) noexcept {
  size_type bytes = capacity * sizeof(Unit);
  size_type granule;
  if (bytes <= 256) granule = 8;
  else if (bytes <= 512) granule = 16;
  else if (bytes < 1024) granule = 32;
  else if (bytes < 2048) granule = 64;
  else if (bytes < 4096) granule = 128;
  else if (bytes < 8192) granule = 256;
  else if (bytes < 16384) granule = 512;
  else return capacity;
  bytes = (bytes + granule - 1) / granule * granule;
  return bytes / sizeof(Unit);
}

template <typename Unit>
char* CowString<Unit>::NewBlock(size_type capacity) {
  char* block = static_cast<char*>(::operator new(BlockBytes(capacity)));
  new (block) RefCount(1);
  return block;
}

template <typename Unit>
void CowString<Unit>::ReleaseBlock(char* block) noexcept {
  if (CountOf(block).fetch_sub(1, std::memory_order_acq_rel) == 1) {
    CountOf(block).~RefCount();
    ::operator delete(block);
  }
}

template <typename Unit>
void CowString<Unit>::CheckLength(size_type current, size_type added) {
  if (added > MaxLength() - current) ThrowLength();
}

template <typename Unit>
void CowString<Unit>::SetLength(size_type n) noexcept {
  if (IsLong()) {
    area_.heap.end = Text() + n;
    *area_.heap.end = 0;
  } else {
    form_ = static_cast<uint32_t>(n);
    area_.units[n] = 0;
  }
}

template <typename Unit>
CowString<Unit>::CowString(ExactTag, size_type length) {
  if (length > MaxLength()) ThrowLength();
  if (length <= kShortMax) {
    form_ = static_cast<uint32_t>(length);
    area_.units[length] = 0;
    return;
  }
  size_type capacity = length + kHeaderUnits;
  area_.heap.block = NewBlock(capacity);
  area_.heap.capacity = capacity;
  form_ = kInlineUnits;
  SetLength(length);
}

template <typename Unit>
CowString<Unit>::CowString(const Unit* text) : CowString(text, UnitCount(text)) {}

template <typename Unit>
CowString<Unit>::CowString(const Unit* text, size_type count) : CowString(ExactTag{}, count) {
  if (count) std::memcpy(RawData(), text, count * sizeof(Unit));
}

template <typename Unit>
CowString<Unit>::CowString(const CowString& source, size_type pos, size_type count)
    : CowString() {
  size_type length = source.Length();
  if (pos > length) ThrowOutOfRange();
  if (count > length - pos) count = length - pos;
  CowString exact(source.Data() + pos, count);
  *this = std::move(exact);
}

template <typename Unit>
CowString<Unit>::CowString(const CowString& other) noexcept : form_(other.form_) {
  if (other.IsLong()) {
    CountOf(other.area_.heap.block).fetch_add(1, std::memory_order_relaxed);
    area_.heap = other.area_.heap;
  } else {
    std::memcpy(area_.units, other.area_.units, (form_ + 1) * sizeof(Unit));
  }
}

template <typename Unit>
CowString<Unit>::CowString(CowString&& other) noexcept : form_(other.form_) {
  std::memcpy(&area_, &other.area_, sizeof(area_));
  other.form_ = 0;
  other.area_.units[0] = 0;
}

template <typename Unit>
CowString<Unit>::~CowString() {
  if (IsLong()) ReleaseBlock(area_.heap.block);
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::operator=(const CowString& other) noexcept {
  if (this == &other) return *this;
  if (other.IsLong())
    CountOf(other.area_.heap.block).fetch_add(1, std::memory_order_relaxed);
  if (IsLong()) ReleaseBlock(area_.heap.block);
  form_ = other.form_;
  if (other.IsLong())
    area_.heap = other.area_.heap;
  else
    std::memcpy(area_.units, other.area_.units, (form_ + 1) * sizeof(Unit));
  return *this;
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::operator=(CowString&& other) noexcept {
  if (this == &other) return *this;
  if (IsLong()) ReleaseBlock(area_.heap.block);
  form_ = other.form_;
  std::memcpy(&area_, &other.area_, sizeof(area_));
  other.form_ = 0;
  other.area_.units[0] = 0;
  return *this;
}

// The one place where text moves into a new block: a short string that outgrows its area,
// a block that is too small, and the fork of a shared block. The units are copied before
// the area is rewritten, since a short string's units live in it.
template <typename Unit>
Unit* CowString<Unit>::MoveToNewBlock(size_type capacity) {
  const size_type length = Length();
  char* block = NewBlock(capacity);
  Unit* text = reinterpret_cast<Unit*>(block) + kHeaderUnits;
  std::memcpy(text, Data(), (length + 1) * sizeof(Unit));
  if (IsLong()) ReleaseBlock(area_.heap.block);
  area_.heap.block = block;
  area_.heap.capacity = capacity;
  area_.heap.end = text + length;
  form_ = kInlineUnits;
  return text;
}

// The one place where a shared block is forked: the string gets a private block of exactly
// length + kHeaderUnits, and gives up its share of the old one.
template <typename Unit>
void CowString<Unit>::Unshare() {
  if (!IsLong() || CountOf(area_.heap.block).load(std::memory_order_acquire) == 1) return;
  MoveToNewBlock(Length() + kHeaderUnits);
}

template <typename Unit>
Unit* CowString<Unit>::Reserve(size_type new_length, Growth growth) {
  size_type needed = new_length + kHeaderUnits;
  if (!IsLong()) {
    if (new_length <= kShortMax) return area_.units;
    // Out of the area into a block of exactly the needed capacity, without rounding.
    return MoveToNewBlock(needed);
  }
  Unshare();
  size_type capacity = area_.heap.capacity;
  if (capacity >= needed) return Text();
  size_type chosen = needed;
  if (growth == Growth::kGeometric && capacity + capacity / 2 > chosen)
    chosen = capacity + capacity / 2;
  if (chosen > MaxLength() + kHeaderUnits) chosen = MaxLength() + kHeaderUnits;
  return MoveToNewBlock(RoundCapacity(chosen));
}

template <typename Unit>
Unit* CowString<Unit>::MutableData() {
  Unshare();
  return RawData();
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::Assign(const Unit* text, size_type count) {
  if (count > MaxLength()) ThrowLength();
  if (PointsInto(text)) {
    // The source would move or change under us: take it out first.
    CowString copy(text, count);
    return Assign(copy.Data(), count);
  }
  Unit* data = Reserve(count, Growth::kExact);
  if (count) std::memcpy(data, text, count * sizeof(Unit));
  SetLength(count);
  return *this;
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::AppendSlow(const Unit* text, size_type count) {
  size_type length = Length();
  CheckLength(length, count);
  if (count == 0) return *this;
  // Text inside this string keeps its offset through Unshare and growth, which copy the
  // units; the old block may be gone afterwards, so the pointer is taken anew.
  bool inside = PointsInto(text);
  size_type offset = inside ? static_cast<size_type>(text - Data()) : 0;
  Unit* data = Reserve(length + count, Growth::kGeometric);
  if (inside) text = data + offset;
  std::memmove(data + length, text, count * sizeof(Unit));
  SetLength(length + count);
  return *this;
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::Append(const CowString& other, size_type pos, size_type count) {
  size_type length = other.Length();
  if (pos > length) ThrowOutOfRange();
  if (count > length - pos) count = length - pos;
  return Append(other.Data() + pos, count);
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::Insert(size_type pos, const Unit* first, const Unit* last) {
  size_type length = Length();
  if (pos > length) ThrowOutOfRange();
  size_type count = static_cast<size_type>(last - first);
  CheckLength(length, count);
  if (count == 0) return *this;
  if (PointsInto(first)) {
    CowString copy(first, count);
    return Insert(pos, copy.Data(), copy.Data() + count);
  }
  Unit* data = Reserve(length + count, Growth::kGeometric);
  std::memmove(data + pos + count, data + pos, (length - pos) * sizeof(Unit));
  std::memcpy(data + pos, first, count * sizeof(Unit));
  SetLength(length + count);
  return *this;
}

template <typename Unit>
void CowString<Unit>::Resize(size_type n, bool geometric) {
  size_type length = Length();
  if (n == length) return;
  if (n < length) {
    Unshare();
    SetLength(n);
    return;
  }
  CheckLength(length, n - length);
  Reserve(n, geometric ? Growth::kGeometric : Growth::kExact);
  SetLength(n);
}

template <typename Unit>
CowString<Unit>& CowString<Unit>::Erase(size_type pos, size_type count) {
  size_type length = Length();
  if (pos > length) ThrowOutOfRange();
  if (count > length - pos) count = length - pos;
  if (count == 0) return *this;
  Unshare();
  Unit* data = RawData();
  std::memmove(data + pos, data + pos + count, (length - pos - count) * sizeof(Unit));
  SetLength(length - count);
  return *this;
}

template <typename Unit>
typename CowString<Unit>::size_type CowString<Unit>::FindUnits(const Unit* pattern, size_type count,
                                                          size_type from) const noexcept {
  size_type length = Length();
  if (length == 0 || from > length) return npos;
  if (count == 0) return from;
  if (count > length) return npos;
  const Unit* data = Data();
  for (size_type i = from; i + count <= length; ++i) {
    if (data[i] == pattern[0] && std::memcmp(data + i, pattern, count * sizeof(Unit)) == 0)
      return i;
  }
  return npos;
}

template <typename Unit>
typename CowString<Unit>::size_type CowString<Unit>::FindLastOfUnits(const Unit* set,
                                                                size_type count) const noexcept {
  const Unit* data = Data();
  for (size_type i = Length(); i-- > 0;) {
    for (size_type k = 0; k < count; ++k)
      if (data[i] == set[k]) return i;
  }
  return npos;
}

template <typename Unit>
bool CowString<Unit>::Equals(const Unit* text) const noexcept {
  size_type length = Length();
  return UnitCount(text) == length &&
         std::memcmp(Data(), text, length * sizeof(Unit)) == 0;
}

template <typename Unit>
int CowString<Unit>::Compare(const CowString& other) const noexcept {
  using U = typename std::make_unsigned<Unit>::type;
  size_type a = Length(), b = other.Length();
  size_type n = a < b ? a : b;
  const Unit* x = Data();
  const Unit* y = other.Data();
  for (size_type i = 0; i < n; ++i) {
    U ux = static_cast<U>(x[i]), uy = static_cast<U>(y[i]);
    if (ux != uy) return ux < uy ? -1 : 1;
  }
  return a < b ? -1 : (a > b ? 1 : 0);
}

template <typename Unit>
typename CowString<Unit>::size_type CowString<Unit>::ReplaceAll(const CowString& pattern_in,
                                                                const CowString& replacement_in) {
  // Own copies: the arguments may be this very string or share its block.
  const CowString pattern(pattern_in);
  const CowString replacement(replacement_in);
  size_type plen = pattern.Length();
  size_type length = Length();
  if (plen == 0 || length == 0) return 0;
  size_type rlen = replacement.Length();

  if (plen == rlen) {
    size_type n = 0;
    for (size_type pos = Find(pattern); pos != npos; pos = Find(pattern, pos + plen)) {
      if (n == 0) Unshare();
      std::memcpy(RawData() + pos, replacement.Data(), rlen * sizeof(Unit));
      ++n;
    }
    return n;
  }

  std::vector<size_type> matches;
  for (size_type pos = Find(pattern); pos != npos; pos = Find(pattern, pos + plen))
    matches.push_back(pos);
  if (matches.empty()) return 0;

  size_type result_length = length - matches.size() * plen;
  CheckLength(result_length, matches.size() * rlen);
  result_length += matches.size() * rlen;
  CowString result(ExactTag{}, result_length);
  Unit* out = result.RawData();
  const Unit* in = Data();
  size_type at = 0;
  for (size_type pos : matches) {
    std::memcpy(out, in + at, (pos - at) * sizeof(Unit));
    out += pos - at;
    std::memcpy(out, replacement.Data(), rlen * sizeof(Unit));
    out += rlen;
    at = pos + plen;
  }
  std::memcpy(out, in + at, (length - at) * sizeof(Unit));
  Assign(result.Data(), result_length);
  return matches.size();
}

template <typename Unit>
CowString<Unit> CowString<Unit>::FormatInteger(int32_t value, unsigned radix) {
  if (radix < 2 || radix > 36) ThrowOutOfRange();
  Unit digits[64];
  size_type at = 64;
  bool negative = radix == 10 && value < 0;
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (negative) magnitude = 0u - magnitude;
  do {
    unsigned d = magnitude % radix;
    digits[--at] = static_cast<Unit>(d < 10 ? '0' + d : 'a' + (d - 10));
    magnitude /= radix;
  } while (magnitude != 0);
  if (negative) digits[--at] = static_cast<Unit>('-');
  return CowString(digits + at, 64 - at);
}

template <typename Unit>
CowString<Unit> CowString<Unit>::Concatenate(const Unit* a, size_type la, const Unit* b,
                                             size_type lb) {
  CheckLength(la, lb);
  CowString result(ExactTag{}, la + lb);
  Unit* out = result.RawData();
  if (la) std::memcpy(out, a, la * sizeof(Unit));
  if (lb) std::memcpy(out + la, b, lb * sizeof(Unit));
  return result;
}

template <typename Unit>
CowString<Unit> operator+(const CowString<Unit>& a, const Unit* b) {
  return CowString<Unit>::Concatenate(a.Data(), a.Length(), b, CowString<Unit>::UnitCount(b));
}

template <typename Unit>
CowString<Unit> operator+(const CowString<Unit>& a, const CowString<Unit>& b) {
  return CowString<Unit>::Concatenate(a.Data(), a.Length(), b.Data(), b.Length());
}

template <typename Unit>
bool operator==(const CowString<Unit>& a, const CowString<Unit>& b) noexcept {
  auto n = a.Length();
  return n == b.Length() && std::memcmp(a.Data(), b.Data(), n * sizeof(Unit)) == 0;
}

template class CowString<char16_t>;
template class CowString<char>;

template CowString<char16_t> operator+(const CowString<char16_t>&, const CowString<char16_t>&);
template CowString<char16_t> operator+(const CowString<char16_t>&, const char16_t*);
template bool operator==(const CowString<char16_t>&, const CowString<char16_t>&) noexcept;
template CowString<char> operator+(const CowString<char>&, const CowString<char>&);
template CowString<char> operator+(const CowString<char>&, const char*);
template bool operator==(const CowString<char>&, const CowString<char>&) noexcept;
