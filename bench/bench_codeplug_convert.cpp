// Converting the largest codeplug the builder makes that still fits in 5.10,
// as the update does it (the chain of converters, the 5.10 pass, the last
// validity check): 5.8 -> 5.10 and back.
//
// Printed per conversion: CPU microseconds (goal < 100 us), the CPU of the
// validity check alone (goal: less than the conversion), and the heap
// allocations made inside a conversion (goal 0), with the load average.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/Validity.h"

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

constexpr double kGoalMicros = 100;

struct Images {
  std::unique_ptr<CodeplugImage> source = std::make_unique<CodeplugImage>();
  std::unique_ptr<CodeplugImage> converted = std::make_unique<CodeplugImage>();
  std::size_t bytes = 0;
  std::size_t convertedBytes = 0;
};

// 16 systems, 54 groups and as many rows per table as still convert to 5.10.
bool LargestImage(Images& im) {
  auto scratch = std::make_unique<CodeplugImage>();
  for (int rows = 60; rows > 0; --rows) {
    CodeplugShape shape;
    shape.version = {5, 8};
    shape.systemsType0 = 4;
    shape.systemsType1 = shape.systemsType3 = shape.systemsType4 = shape.systemsType5 = 3;
    shape.groups = 54;
    shape.maxRows = static_cast<std::uint8_t>(rows);
    shape.seed = 1;
    if (!BuildCodeplug(shape, *im.source, im.bytes)) continue;
    *im.converted = *im.source;
    const ConversionResult r =
        ConvertCodeplugImage(*im.converted, im.bytes, kFormatIndex58, kFormatIndex510, *scratch);
    if (!r.converted) continue;
    im.convertedBytes = r.byteCount;
    std::printf("image: %zu bytes in 5.8, %zu bytes in 5.10 (up to %d rows per table)\n", im.bytes,
                r.byteCount, rows);
    return true;
  }
  return false;
}

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

const char* Load() {
  static char text[64];
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "load ?";
  std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", load[0], load[1], load[2]);
  return text;
}

struct Figure {
  double micros = 0;
  double allocations = 0;
  bool ok = true;
};

// CPU per conversion of `from` (copied in before each, the copy not
// counted) to the other format.
Figure Convert(const CodeplugImage& from, std::size_t bytes, std::uint8_t fromIndex,
               std::uint8_t toIndex, int rounds) {
  auto work = std::make_unique<CodeplugImage>();
  auto scratch = std::make_unique<CodeplugImage>();
  Figure f;
  long allocs = 0;
  const double t0 = CpuSeconds();
  for (int i = 0; i < rounds; ++i) {
    *work = from;
    const long before = allocations.load();
    const ConversionResult r = ConvertCodeplugImage(*work, bytes, fromIndex, toIndex, *scratch);
    allocs += allocations.load() - before;
    if (!r.converted) f.ok = false;
  }
  const double t1 = CpuSeconds();
  for (int i = 0; i < rounds; ++i) {
    *work = from;
    asm volatile("" : : "r"(work.get()) : "memory");
  }
  const double t2 = CpuSeconds();
  f.micros = ((t1 - t0) - (t2 - t1)) / rounds * 1e6;
  f.allocations = static_cast<double>(allocs) / rounds;
  return f;
}

double Check(const CodeplugImage& image, int rounds) {
  int valid = 0;
  const double t0 = CpuSeconds();
  for (int i = 0; i < rounds; ++i) {
    valid += CheckParmsImage(image).valid ? 1 : 0;
    asm volatile("" : : "r"(&image) : "memory");
  }
  const double t1 = CpuSeconds();
  if (valid != rounds) std::printf("the converted image fails the check\n");
  return (t1 - t0) / rounds * 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 3000;
  Images im;
  if (!LargestImage(im)) {
    std::printf("no image converts\n");
    return 1;
  }
  const Figure up = Convert(*im.source, im.bytes, kFormatIndex58, kFormatIndex510, rounds);
  const Figure down =
      Convert(*im.converted, im.convertedBytes, kFormatIndex510, kFormatIndex58, rounds);
  const double check = Check(*im.converted, rounds * 10);
  std::printf("convert 5.8 -> 5.10: %.1f us CPU, %.1f heap allocations (goal < %.0f us, 0)  (%s)\n",
              up.micros, up.allocations, kGoalMicros, Load());
  std::printf("convert 5.10 -> 5.8: %.1f us CPU, %.1f heap allocations  (%s)\n", down.micros,
              down.allocations, Load());
  std::printf("validity check of the 5.10 image: %.1f us CPU (goal: below the conversion)  (%s)\n",
              check, Load());
  const bool met =
      up.ok && down.ok && up.micros < kGoalMicros && up.allocations == 0 && check < up.micros;
  std::printf("goals: %s\n", met ? "met" : "missed");
  return up.ok && down.ok ? 0 : 1;
}
