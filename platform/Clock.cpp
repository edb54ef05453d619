#include "platform/Clock.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace bcu::platform {

std::uint64_t RealMicros() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t Clock::RealMs(std::uint32_t clockMs) const {
  double real = std::ceil(static_cast<double>(clockMs) * Scale());
  if (real <= 0) return 0;
  if (real > 4.0e9) return 4000000000u;
  return static_cast<std::uint32_t>(real);
}

SteadyClock::SteadyClock(double scale)
    : scale_(scale > 0 ? scale : 1.0), startRealUs_(RealMicros()) {}

std::uint64_t SteadyClock::NowMs() {
  return NowUs() / 1000;
}

std::uint64_t SteadyClock::NowUs() {
  const double elapsedRealUs = static_cast<double>(RealMicros() - startRealUs_);
  return static_cast<std::uint64_t>(elapsedRealUs / scale_);
}

void SteadyClock::SleepMs(std::uint32_t clockMs) {
  auto realUs = static_cast<std::int64_t>(static_cast<double>(clockMs) * 1000.0 * scale_);
  if (realUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(realUs));
}

}  // namespace bcu::platform
