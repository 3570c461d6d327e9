// Micro-benchmarks of WideString against std::u16string: appending in a loop (amortised by
// the 1.5 growth and the byte bands), copying a short text (inline, no allocation) and
// copying a long text (one atomic increment instead of an allocation and a copy).
//
//   build/string_benchmark --benchmark_min_time=0.2

#include <benchmark/benchmark.h>

#include <string>

#include "text/wide_string.h"

namespace {

const char16_t kPiece[] = u"segment/";

void BM_WideStringAppend(benchmark::State& state) {
  for (auto _ : state) {
    WideString s;
    for (int i = 0; i < state.range(0); ++i) s.Append(kPiece, 8);
    benchmark::DoNotOptimize(s.Data());
  }
}
BENCHMARK(BM_WideStringAppend)->Arg(16)->Arg(1024);

void BM_U16StringAppend(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string s;
    for (int i = 0; i < state.range(0); ++i) s.append(kPiece, 8);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_U16StringAppend)->Arg(16)->Arg(1024);

template <typename S>
void CopyLoop(benchmark::State& state, const S& source) {
  for (auto _ : state) {
    S copy(source);
    benchmark::DoNotOptimize(&copy);
  }
}

void BM_WideStringCopyShort(benchmark::State& state) { CopyLoop(state, WideString(u"tmplts/")); }
void BM_U16StringCopyShort(benchmark::State& state) {
  CopyLoop(state, std::u16string(u"tmplts/"));
}
void BM_WideStringCopyLong(benchmark::State& state) {
  CopyLoop(state, WideString(u"/home/user/.tavlo5/Tavlo/tavlo5/tmplts/Accounting/template.cfg"));
}
void BM_U16StringCopyLong(benchmark::State& state) {
  CopyLoop(state,
           std::u16string(u"/home/user/.tavlo5/Tavlo/tavlo5/tmplts/Accounting/template.cfg"));
}
BENCHMARK(BM_WideStringCopyShort);
BENCHMARK(BM_U16StringCopyShort);
BENCHMARK(BM_WideStringCopyLong);
BENCHMARK(BM_U16StringCopyLong);

}  // namespace

BENCHMARK_MAIN();
