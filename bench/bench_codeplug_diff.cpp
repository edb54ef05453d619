// Comparing two codeplug images of close to 64 KiB: the largest 5.8 image the
// builder makes that still converts to 5.10, against itself, against its 5.10
// conversion (the layout diff alone, then with the conversion check), and the
// text and JSON of that comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/CodeplugDiff.h"
#include "codeplug/CodeplugDiffReport.h"

namespace {

using namespace bcu::codeplug;

struct Images {
  std::unique_ptr<CodeplugImage> before = std::make_unique<CodeplugImage>();
  std::unique_ptr<CodeplugImage> after = std::make_unique<CodeplugImage>();
  std::size_t bytes = 0;
};

const Images& LargestPair() {
  static Images images = [] {
    Images im;
    auto scratch = std::make_unique<CodeplugImage>();
    for (int rows = 60; rows > 0; --rows) {
      CodeplugShape shape;
      shape.version = {5, 8};
      shape.systemsType0 = 4;
      shape.systemsType1 = shape.systemsType3 = shape.systemsType4 = shape.systemsType5 = 3;
      shape.groups = 54;
      shape.maxRows = static_cast<std::uint8_t>(rows);
      if (!BuildCodeplug(shape, *im.before, im.bytes)) continue;
      *im.after = *im.before;
      const ConversionResult r =
          ConvertCodeplugImage(*im.after, im.bytes, kFormatIndex58, kFormatIndex510, *scratch);
      if (!r.converted) continue;
      std::printf("images: %zu bytes in 5.8, %zu bytes in 5.10 (up to %d rows per table)\n",
                  im.bytes, r.byteCount, rows);
      break;
    }
    return im;
  }();
  return images;
}

void BM_DiffSameImage(benchmark::State& state) {
  const Images& im = LargestPair();
  for (auto _ : state) benchmark::DoNotOptimize(DiffCodeplugImages(*im.before, *im.before));
}

void BM_Diff58Against510(benchmark::State& state) {
  const Images& im = LargestPair();
  CodeplugDiff d;
  for (auto _ : state) {
    d = DiffCodeplugImages(*im.before, *im.after);
    benchmark::DoNotOptimize(d);
  }
  state.counters["blocks"] = static_cast<double>(d.counts.blocksCompared);
  state.counters["wordsAdded"] = static_cast<double>(d.counts.wordsAdded);
}

void BM_CompareWithConversionCheck(benchmark::State& state) {
  const Images& im = LargestPair();
  for (auto _ : state) {
    const CodeplugComparison c = CompareCodeplugImages(*im.before, im.bytes, *im.after);
    if (!c.conversion.Carried()) state.SkipWithError("conversion check failed");
    benchmark::DoNotOptimize(c);
  }
}

void BM_TextAndJson(benchmark::State& state) {
  const Images& im = LargestPair();
  const CodeplugComparison c = CompareCodeplugImages(*im.before, im.bytes, *im.after);
  std::size_t textBytes = 0, jsonBytes = 0;
  for (auto _ : state) {
    textBytes = CodeplugComparisonText(c, "before.bin", "after.bin").size();
    jsonBytes = CodeplugComparisonJson(c).dump(2).size();
  }
  state.counters["textBytes"] = static_cast<double>(textBytes);
  state.counters["jsonBytes"] = static_cast<double>(jsonBytes);
}

BENCHMARK(BM_DiffSameImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Diff58Against510)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CompareWithConversionCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextAndJson)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
