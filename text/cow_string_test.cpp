#include "text/cow_string.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "text/cow_string_test_access.h"
#include "text/narrow_string.h"
#include "text/wide_string.h"

// This program replaces the global operator new and delete with malloc and free; GCC
// cannot see that they pair up.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Counts the allocations made through the global operator new of this test program, so
// tests can see whether an operation allocated and how many bytes it asked for.
namespace {
std::atomic<long> g_allocations{0};
std::atomic<std::size_t> g_last_allocation_bytes{0};
}  // namespace

void* operator new(std::size_t bytes) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_last_allocation_bytes.store(bytes, std::memory_order_relaxed);
  if (void* p = std::malloc(bytes ? bytes : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr bool k64 = sizeof(void*) == 8;
using W = WideString;
using N = NarrowString;
using Access = CowStringTestAccess;

W Repeat(char16_t unit, std::size_t n) {
  std::u16string s(n, unit);
  return W(s.data(), s.size());
}

template <typename F>
std::string ErrorMessageOf(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(CowStringLayout, SizesOfBothBuilds) {
  if (k64) {
    EXPECT_EQ(W::kInlineUnits, 12u);
    EXPECT_EQ(N::kInlineUnits, 24u);
    EXPECT_EQ(W::kHeaderUnits, 4u);
    EXPECT_EQ(N::kHeaderUnits, 8u);
    EXPECT_EQ(sizeof(W), 32u);  // form word, padding, three 64-bit words
    EXPECT_EQ(sizeof(N), 32u);
  } else {
    EXPECT_EQ(W::kInlineUnits, 10u);
    EXPECT_EQ(N::kInlineUnits, 20u);
    EXPECT_EQ(W::kHeaderUnits, 2u);
    EXPECT_EQ(N::kHeaderUnits, 4u);
    EXPECT_EQ(sizeof(W), 24u);  // form word and a 20-byte area
    EXPECT_EQ(sizeof(N), 24u);
  }
}

TEST(CowStringForms, LongestShortTextIsInlineAndOneMoreIsLong) {
  W shortest = Repeat(u'a', W::kShortMax);
  EXPECT_FALSE(Access::IsLong(shortest));
  EXPECT_EQ(shortest.Length(), W::kShortMax);
  EXPECT_EQ(shortest.Data()[W::kShortMax], 0);

  long before = g_allocations.load();
  W longest = Repeat(u'b', W::kShortMax + 1);
  // Repeat builds a std::u16string too; the string itself makes exactly one block.
  EXPECT_TRUE(Access::IsLong(longest));
  EXPECT_EQ(Access::Capacity(longest), W::kShortMax + 1 + W::kHeaderUnits);
  if (k64) {
    EXPECT_EQ(Access::Capacity(longest), 16u);
    EXPECT_EQ(g_last_allocation_bytes.load(), 34u);
  } else {
    EXPECT_EQ(Access::Capacity(longest), 12u);
    EXPECT_EQ(g_last_allocation_bytes.load(), 26u);
  }
  EXPECT_GT(g_allocations.load(), before);
}

TEST(CowStringForms, NarrowLongBlockHasWordHeader) {
  std::string bytes(N::kShortMax + 1, 'x');
  N s(bytes.data(), bytes.size());
  EXPECT_TRUE(Access::IsLong(s));
  EXPECT_EQ(Access::Capacity(s), bytes.size() + N::kHeaderUnits);
  EXPECT_EQ(g_last_allocation_bytes.load(), Access::Capacity(s) + 1);
  EXPECT_STREQ(s.CStr(), bytes.c_str());
}

TEST(CowStringAllocation, ShortTextsNeverAllocateAndCopiesOfLongOnesShare) {
  W source = Repeat(u'q', 40);
  long before = g_allocations.load();
  {
    W a(u"hello");
    W b = a;
    b.Append(u"wor", 3);  // 8 units: short in both builds
    W c(b, 2, 5);
    W d = W::FormatInteger(-123456, 10);
    N e("narrow fits");
    EXPECT_FALSE(Access::IsLong(b));
    EXPECT_FALSE(Access::IsLong(d));
    EXPECT_FALSE(Access::IsLong(e));
    W copy1 = source;
    W copy2(copy1);
    copy2 = source;
    EXPECT_EQ(Access::BlockRefCount(source), 3u);
  }
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_EQ(Access::BlockRefCount(source), 1u);
}

TEST(CowStringCopyOnWrite, ChangingOneCopyLeavesTheOtherAlone) {
  W a = Repeat(u'x', 20);
  W b = a;
  EXPECT_EQ(a.Data(), b.Data());
  EXPECT_EQ(Access::BlockRefCount(a), 2u);
  b.Append(u"!");
  EXPECT_EQ(a, Repeat(u'x', 20));
  EXPECT_EQ(b.Length(), 21u);
  EXPECT_EQ(Access::BlockRefCount(a), 1u);
  EXPECT_EQ(Access::BlockRefCount(b), 1u);

  W c = a;
  c.MutableData()[0] = u'y';
  EXPECT_EQ(a[0], u'x');
  EXPECT_EQ(c[0], u'y');
  // The fork makes a block of exactly length + header.
  EXPECT_EQ(Access::Capacity(c), 20 + W::kHeaderUnits);

  W d = a;
  d.Erase(0, 5);
  EXPECT_EQ(a.Length(), 20u);
  EXPECT_EQ(d.Length(), 15u);
}

TEST(CowStringStickiness, LongFormSurvivesShorteningUntilShortStringIsAssigned) {
  W s = Repeat(u'z', 30);
  std::size_t capacity = Access::Capacity(s);
  s.Clear();
  EXPECT_TRUE(Access::IsLong(s));
  EXPECT_EQ(s.Length(), 0u);
  EXPECT_EQ(Access::Capacity(s), capacity);
  EXPECT_EQ(s.Data()[0], 0);

  s.Assign(u"abc", 3);
  EXPECT_TRUE(Access::IsLong(s));
  EXPECT_TRUE(s.Equals(u"abc"));

  s.Resize(1);
  EXPECT_TRUE(Access::IsLong(s));
  EXPECT_TRUE(s.Equals(u"a"));

  W small(u"tiny");
  s = small;
  EXPECT_FALSE(Access::IsLong(s));
  EXPECT_TRUE(s.Equals(u"tiny"));
}

TEST(CowStringGrowth, AppendGrowsByHalfAndRoundsToBands) {
  W s = Repeat(u'a', 12);  // capacity 16 on x86-64
  std::size_t c0 = Access::Capacity(s);
  s.Append(u'b');
  std::size_t expected = Access::RoundCapacity<char16_t>(c0 + c0 / 2);
  EXPECT_EQ(Access::Capacity(s), expected);
  if (k64) {
    EXPECT_EQ(Access::Capacity(s), 24u);
  }

  // Assignment grows to exactly what is needed, rounded.
  W t = Repeat(u'a', 12);
  std::u16string big(100, u'c');
  t.Assign(big.data(), big.size());
  EXPECT_EQ(Access::Capacity(t), Access::RoundCapacity<char16_t>(100 + W::kHeaderUnits));

  // Short to long: exactly the needed capacity, not rounded.
  W u(u"abc");
  u.Append(big.data(), 97);
  EXPECT_EQ(Access::Capacity(u), 100 + W::kHeaderUnits);
}

TEST(CowStringGrowth, RoundingBands) {
  // Capacities in units of 16-bit text; the bands are in bytes.
  EXPECT_EQ(Access::RoundCapacity<char16_t>(17), 20u);     // 34 bytes -> 40
  EXPECT_EQ(Access::RoundCapacity<char16_t>(128), 128u);   // 256 bytes stays
  EXPECT_EQ(Access::RoundCapacity<char16_t>(129), 136u);   // 258 -> 272 (16)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(257), 272u);   // 514 -> 544 (32)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(511), 512u);   // 1022 -> 1024 (32)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(513), 544u);   // 1026 -> 1088 (64)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(1025), 1088u); // 2050 -> 2176 (128)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(2049), 2176u); // 4098 -> 4352 (256)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(4097), 4352u); // 8194 -> 8704 (512)
  EXPECT_EQ(Access::RoundCapacity<char16_t>(8193), 8193u); // 16386 bytes: not rounded
  EXPECT_EQ(Access::RoundCapacity<char>(257), 272u);
  EXPECT_EQ(Access::RoundCapacity<char>(1023), 1024u);
  EXPECT_EQ(Access::RoundCapacity<char>(16385), 16385u);
}

TEST(CowStringGrowth, ResizeExactOrGeometric) {
  W s = Repeat(u'a', 40);
  std::size_t c = Access::Capacity(s);
  s.Resize(c - W::kHeaderUnits + 1, false);
  EXPECT_EQ(Access::Capacity(s), Access::RoundCapacity<char16_t>(c + 1));
  W g = Repeat(u'a', 40);
  g.Resize(c - W::kHeaderUnits + 1, true);
  EXPECT_EQ(Access::Capacity(g), Access::RoundCapacity<char16_t>(c + c / 2));

  // Out of the area into a block of exactly the needed capacity: one the bands would round.
  W shorty(u"ab");
  shorty.Resize(W::kShortMax + 6);
  EXPECT_TRUE(Access::IsLong(shorty));
  EXPECT_EQ(Access::Capacity(shorty), W::kShortMax + 6 + W::kHeaderUnits);
  EXPECT_EQ(shorty[0], u'a');
}

TEST(CowStringErrors, OutOfRangeAndLengthCarryTheStandardMessage) {
  W s(u"abcdef");
  W at_end(s, 6);
  EXPECT_TRUE(at_end.Empty());
  EXPECT_THROW(W(s, 7), std::out_of_range);
  EXPECT_EQ(ErrorMessageOf([&] { W bad(s, 7); }), "basic_string");
  EXPECT_THROW(s.Erase(7, 1), std::out_of_range);
  W other;
  EXPECT_THROW(other.Append(s, 7, 1), std::out_of_range);
  EXPECT_THROW(s.Insert(7, s.Data(), s.Data()), std::out_of_range);
  EXPECT_THROW(W::FormatInteger(5, 1), std::out_of_range);
  EXPECT_THROW(s.Resize(W::MaxLength() + 1), std::length_error);
  EXPECT_EQ(ErrorMessageOf([&] { s.Resize(W::MaxLength() + 1); }), "basic_string");
  N n("x");
  EXPECT_THROW(n.Append(n, 2, 1), std::out_of_range);
  EXPECT_EQ(s, W(u"abcdef"));  // failed operations changed nothing
}

TEST(CowStringOperations, SelfReferenceAppendAssignInsert) {
  W s = Repeat(u'r', 15);
  s.Append(s);
  EXPECT_EQ(s, Repeat(u'r', 30));
  W t(u"abc");
  t.Append(t);
  EXPECT_TRUE(t.Equals(u"abcabc"));
  W u = W(u"0123456789abcdefghij");
  u.Assign(u.Data() + 10, 5);
  EXPECT_TRUE(u.Equals(u"abcde"));
  W v = W(u"0123456789abcdefghij");
  W shared = v;
  v.Append(shared.Data() + 2, 3);  // text in a block shared with this string
  EXPECT_TRUE(v.Equals(u"0123456789abcdefghij234"));
  v.Insert(0, v.Data() + 20, v.Data() + 23);
  EXPECT_TRUE(v.Equals(u"2340123456789abcdefghij234"));
  EXPECT_TRUE(shared.Equals(u"0123456789abcdefghij"));
}

TEST(CowStringOperations, FindFindLastOfEquals) {
  W empty;
  EXPECT_EQ(empty.Find(u""), W::npos);
  W s(u"a/b\\c/d");
  EXPECT_EQ(s.Find(u""), 0u);
  EXPECT_EQ(s.Find(u"/"), 1u);
  EXPECT_EQ(s.Find(u"/", 2), 5u);
  EXPECT_EQ(s.Find(u"x"), W::npos);
  EXPECT_EQ(s.FindLastOf(u"/\\"), 5u);
  EXPECT_EQ(s.FindLastOf(u"q"), W::npos);
  EXPECT_TRUE(s.Equals(u"a/b\\c/d"));
  EXPECT_FALSE(s.Equals(u"a/b\\c/"));
  const char16_t with_zero[] = {u'a', 0, u'b'};
  W z(with_zero, 3);
  EXPECT_EQ(z.Length(), 3u);
  EXPECT_FALSE(z.Equals(u"a"));
}

TEST(CowStringOperations, ReplaceAll) {
  W s(u"a\\b\\c");
  EXPECT_EQ(s.ReplaceAll(W(u"\\"), W(u"/")), 2u);
  EXPECT_TRUE(s.Equals(u"a/b/c"));
  EXPECT_EQ(s.ReplaceAll(W(), W(u"x")), 0u);
  EXPECT_TRUE(s.Equals(u"a/b/c"));
  W e;
  EXPECT_EQ(e.ReplaceAll(W(u"a"), W(u"b")), 0u);
  W o(u"aaaa");
  EXPECT_EQ(o.ReplaceAll(W(u"aa"), W(u"b")), 2u);  // non-overlapping, left to right
  EXPECT_TRUE(o.Equals(u"bb"));
  W g(u"xax");
  EXPECT_EQ(g.ReplaceAll(W(u"a"), W(u"aa")), 1u);  // replacement is not searched again
  EXPECT_TRUE(g.Equals(u"xaax"));
  W shared = Repeat(u'p', 30);
  W copy = shared;
  EXPECT_EQ(copy.ReplaceAll(W(u"p"), W(u"q")), 30u);
  EXPECT_EQ(shared, Repeat(u'p', 30));
  EXPECT_EQ(copy, Repeat(u'q', 30));
  W self(u"abab");
  EXPECT_EQ(self.ReplaceAll(self, W(u"z")), 1u);
  EXPECT_TRUE(self.Equals(u"z"));
}

TEST(CowStringOperations, FormatInteger) {
  EXPECT_TRUE(W::FormatInteger(8, 10).Equals(u"8"));
  EXPECT_TRUE(W::FormatInteger(-5, 10).Equals(u"-5"));
  EXPECT_TRUE(W::FormatInteger(-1, 16).Equals(u"ffffffff"));
  EXPECT_TRUE(W::FormatInteger(255, 16).Equals(u"ff"));
  EXPECT_TRUE(W::FormatInteger(0, 10).Equals(u"0"));
  EXPECT_TRUE(W::FormatInteger(INT32_MIN, 10).Equals(u"-2147483648"));
  EXPECT_TRUE(W::FormatInteger(-1, 2).Equals(u"11111111111111111111111111111111"));
  EXPECT_TRUE(W::FormatInteger(35, 36).Equals(u"z"));
}

TEST(CowStringOperations, ConcatenationGetsExactBlock) {
  W a = Repeat(u'a', 7);
  W b = Repeat(u'b', 7);
  W c = a + b;
  EXPECT_TRUE(Access::IsLong(c));
  EXPECT_EQ(Access::Capacity(c), 14 + W::kHeaderUnits);
  W d = W(u"ab") + u"cd";
  EXPECT_FALSE(Access::IsLong(d));
  EXPECT_TRUE(d.Equals(u"abcd"));
  N n = N("abc") + N("def");
  EXPECT_STREQ(n.CStr(), "abcdef");
}

TEST(CowStringOperations, CompareIsBytewiseThenShorterFirst) {
  EXPECT_LT(N("IDS_A").Compare(N("IDS_B")), 0);
  EXPECT_LT(N("IDS").Compare(N("IDS_")), 0);
  EXPECT_GT(N("\xc3\xa9").Compare(N("z")), 0);  // bytes compare unsigned
  EXPECT_EQ(N("same").Compare(N("same")), 0);
}

// The same random operations applied to a WideString and a std::u16string, compared after
// every step. Positions are sometimes past the end, so the errors are compared too.
class Mirror {
 public:
  explicit Mirror(unsigned seed) : rng_(seed) {}

  void Step() {
    std::size_t len = ref_.size();
    std::size_t pos = Pick(len + 2);
    std::size_t count = Pick(4) == 0 ? W::npos : Pick(40);
    std::u16string text = RandomText(Pick(4) == 0 ? 30 : 6);
    switch (Pick(10)) {
      case 0:
        Both([&] { ref_.assign(text); }, [&] { str_.Assign(text.data(), text.size()); });
        break;
      case 1:
        Both([&] { ref_.append(text); }, [&] { str_.Append(text.data(), text.size()); });
        break;
      case 2: {
        std::u16string self = ref_;
        Both([&] { ref_.append(self, pos, count); }, [&] { str_.Append(str_, pos, count); });
        break;
      }
      case 3:
        Both([&] { ref_.insert(pos, text); },
             [&] { str_.Insert(pos, text.data(), text.data() + text.size()); });
        break;
      case 4:
        Both([&] { ref_.erase(pos, count); }, [&] { str_.Erase(pos, count); });
        break;
      case 5: {
        std::size_t n = Pick(60);
        ref_.resize(n, u'#');
        str_.Resize(n, Pick(2) == 0);
        for (std::size_t i = len; i < n; ++i) str_.MutableData()[i] = u'#';
        break;
      }
      case 6: {
        copies_.push_back(str_);  // share, then keep changing the original
        copy_values_.push_back(ref_);
        break;
      }
      case 7: {
        std::u16string pat = RandomText(1 + Pick(2));
        std::u16string rep = RandomText(Pick(3));
        std::size_t expected = ReplaceAllRef(ref_, pat, rep);
        EXPECT_EQ(str_.ReplaceAll(W(pat.data(), pat.size()), W(rep.data(), rep.size())),
                  expected);
        break;
      }
      case 8: {
        std::u16string pat = RandomText(Pick(3));
        std::size_t expected = ref_.empty() ? W::npos : ref_.find(pat, pos);
        EXPECT_EQ(str_.FindUnits(pat.data(), pat.size(), pos), expected);
        std::size_t last = ref_.find_last_of(pat);
        EXPECT_EQ(str_.FindLastOfUnits(pat.data(), pat.size()), last);
        break;
      }
      case 9:
        Both([&] { ref_ = ref_.substr(pos, count); }, [&] { str_ = W(str_, pos, count); });
        break;
    }
    Check();
  }

  void Check() {
    ASSERT_EQ(str_.Length(), ref_.size());
    ASSERT_EQ(std::u16string(str_.Data(), str_.Length()), ref_);
    ASSERT_EQ(str_.Data()[str_.Length()], 0);
    if (Access::IsLong(str_)) {
      ASSERT_GE(Access::Capacity(str_), str_.Length() + W::kHeaderUnits);
    } else {
      ASSERT_LE(str_.Length(), W::kShortMax);
    }
    for (std::size_t i = 0; i < copies_.size(); ++i)
      ASSERT_EQ(std::u16string(copies_[i].Data(), copies_[i].Length()), copy_values_[i]);
  }

 private:
  template <typename R, typename S>
  void Both(R ref_op, S str_op) {
    bool ref_threw = false, str_threw = false;
    try {
      ref_op();
    } catch (const std::out_of_range&) {
      ref_threw = true;
    }
    try {
      str_op();
    } catch (const std::out_of_range&) {
      str_threw = true;
    }
    EXPECT_EQ(ref_threw, str_threw);
  }

  static std::size_t ReplaceAllRef(std::u16string& s, const std::u16string& pat,
                                   const std::u16string& rep) {
    if (pat.empty() || s.empty()) return 0;
    std::u16string out;
    std::size_t n = 0, at = 0;
    for (std::size_t pos = s.find(pat); pos != std::u16string::npos;
         pos = s.find(pat, pos + pat.size())) {
      out += s.substr(at, pos - at);
      out += rep;
      at = pos + pat.size();
      ++n;
    }
    out += s.substr(at);
    s = out;
    return n;
  }

  std::size_t Pick(std::size_t bound) { return bound ? rng_() % bound : 0; }
  std::u16string RandomText(std::size_t n) {
    std::u16string t;
    for (std::size_t i = 0; i < n; ++i) t.push_back(static_cast<char16_t>(u'a' + Pick(3)));
    return t;
  }

  std::mt19937 rng_;
  std::u16string ref_;
  W str_;
  std::vector<W> copies_;
  std::vector<std::u16string> copy_values_;
};

TEST(CowStringDifferential, RandomOperationsMatchStdU16String) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    Mirror m(seed);
    for (int step = 0; step < 400; ++step) {
      m.Step();
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "seed " << seed << " step " << step;
        return;
      }
    }
  }
}

// Copies of long strings made on one thread are used and released on others; the atomic
// counts must leave every block freed exactly once (the sanitizer builds check this).
TEST(CowStringThreads, LongStringsCopiedAcrossThreads) {
  std::vector<W> originals;
  for (int i = 0; i < 16; ++i) originals.push_back(Repeat(static_cast<char16_t>(u'a' + i), 64));
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&originals, &mismatches, t] {
      for (int round = 0; round < 2000; ++round) {
        const W& source = originals[(round + t) % originals.size()];
        W copy = source;
        W another(copy);
        if (round % 3 == 0) another.Append(u'!');
        if (copy.Length() != 64 || copy[0] != source[0]) mismatches.fetch_add(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
  for (const W& s : originals) EXPECT_EQ(Access::BlockRefCount(s), 1u);
}

}  // namespace
