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

namespace {

bool Wait(platform::Clock& clock, platform::MessagePump* pump, int ticks,
          const std::function<bool()>& endEarly) {
  if (ticks <= 0) return true;
  const std::uint64_t end = clock.NowMs() + static_cast<std::uint64_t>(ticks) * kTickMs;
  const double scale = clock.Scale() > 0 ? clock.Scale() : 1.0;
  const auto step = static_cast<std::uint64_t>(std::max(1.0, kMaxRealSleepMs / scale));
  for (;;) {
    if (pump) pump->Pump();
    if (endEarly()) return false;
    const std::uint64_t now = clock.NowMs();
    if (now >= end) return true;
    clock.SleepMs(static_cast<std::uint32_t>(std::min(end - now, step)));
  }
}

}  // namespace

bool DelayTicks(platform::Clock& clock, platform::MessagePump* pump, int ticks) {
  return Wait(clock, pump, ticks, [pump] { return pump != nullptr && pump->QuitRequested(); });
}

bool DelayTicks(CommLink& link, int ticks) {
  if (link.clock) return DelayTicks(*link.clock, link.pump, ticks);
  platform::SteadyClock clock;
  return DelayTicks(clock, link.pump, ticks);
}

bool DelayTicksUnless(CommLink& link, int ticks, const std::function<bool()>& endEarly) {
  if (link.clock) return Wait(*link.clock, link.pump, ticks, endEarly);
  platform::SteadyClock clock;
  return Wait(clock, link.pump, ticks, endEarly);
}

}  // namespace bcu::link
