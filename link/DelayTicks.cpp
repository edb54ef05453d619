#include "link/DelayTicks.h"

#include <algorithm>

#include "link/CommLink.h"
#include "platform/Clock.h"
#include "platform/Pump.h"

namespace bcu::link {
namespace {
// Longest real sleep between two pumps.
constexpr double kMaxRealSleepMs = 4.0;
}  // namespace

void DelayTicks(platform::Clock& clock, platform::MessagePump* pump, int ticks) {
  if (ticks <= 0) return;
  const std::uint64_t end = clock.NowMs() + static_cast<std::uint64_t>(ticks) * kTickMs;
  const double scale = clock.Scale() > 0 ? clock.Scale() : 1.0;
  const auto step = static_cast<std::uint64_t>(std::max(1.0, kMaxRealSleepMs / scale));
  for (;;) {
    if (pump) {
      pump->Pump();
      if (pump->QuitRequested()) return;
    }
    const std::uint64_t now = clock.NowMs();
    if (now >= end) return;
    clock.SleepMs(static_cast<std::uint32_t>(std::min(end - now, step)));
  }
}

void DelayTicks(CommLink& link, int ticks) {
  if (link.clock) {
    DelayTicks(*link.clock, link.pump, ticks);
  } else {
    platform::SteadyClock clock;
    DelayTicks(clock, link.pump, ticks);
  }
}

}  // namespace bcu::link
