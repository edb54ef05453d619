// Converting the largest codeplug the builder makes that still fits in 5.10:
// 5.8 -> 5.10 and back, time per conversion and heap allocations inside it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"

namespace {

std::atomic<long> allocations{0};

}  // namespace

// Counts every allocation. GCC takes the replaced pair for a mismatch of
// malloc and delete; they do match here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace bcu::codeplug;

struct Images {
  std::unique_ptr<CodeplugImage> source = std::make_unique<CodeplugImage>();
  std::unique_ptr<CodeplugImage> work = std::make_unique<CodeplugImage>();
  std::unique_ptr<CodeplugImage> scratch = std::make_unique<CodeplugImage>();
  std::size_t bytes = 0;
};

// 16 systems, 54 groups and as many rows per table as still convert to 5.10.
const Images& LargestImage() {
  static Images images = [] {
    Images im;
    for (int rows = 60; rows > 0; --rows) {
      CodeplugShape shape;
      shape.version = {5, 8};
      shape.systemsType0 = 4;
      shape.systemsType1 = shape.systemsType3 = shape.systemsType4 = shape.systemsType5 = 3;
      shape.groups = 54;
      shape.maxRows = static_cast<std::uint8_t>(rows);
      shape.seed = 1;
      if (!BuildCodeplug(shape, *im.source, im.bytes)) continue;
      *im.work = *im.source;
      std::int32_t growth = 0;
      if (!ParmsFormatUpgrade(growth, *im.work, 3, 5, *im.scratch)) continue;
      std::printf("image: %zu bytes in 5.8, %zu bytes in 5.10 (up to %d rows per table)\n",
                  im.bytes, im.bytes + 2 * growth, rows);
      break;
    }
    return im;
  }();
  return images;
}

void BM_Upgrade58To510(benchmark::State& state) {
  const Images& im = LargestImage();
  auto work = std::make_unique<CodeplugImage>();
  auto scratch = std::make_unique<CodeplugImage>();
  long allocs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    *work = *im.source;
    state.ResumeTiming();
    const long before = allocations.load();
    std::int32_t growth = 0;
    if (!ParmsFormatUpgrade(growth, *work, 3, 5, *scratch)) state.SkipWithError("failed");
    ParmsFormat510Fixup(*work);
    allocs += allocations.load() - before;
    benchmark::DoNotOptimize(growth);
  }
  state.counters["allocs/conv"] =
      benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
  state.counters["bytes"] = static_cast<double>(im.bytes);
}

void BM_Downgrade510To58(benchmark::State& state) {
  const Images& im = LargestImage();
  auto up = std::make_unique<CodeplugImage>(*im.source);
  auto work = std::make_unique<CodeplugImage>();
  auto scratch = std::make_unique<CodeplugImage>();
  std::int32_t growth = 0;
  ParmsFormatUpgrade(growth, *up, 3, 5, *scratch);
  long allocs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    *work = *up;
    state.ResumeTiming();
    const long before = allocations.load();
    if (!ParmsFormatDowngrade(growth, *work, 3, 5, *scratch)) state.SkipWithError("failed");
    allocs += allocations.load() - before;
    benchmark::DoNotOptimize(growth);
  }
  state.counters["allocs/conv"] =
      benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_Upgrade58To510)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Downgrade510To58)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
