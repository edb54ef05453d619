#pragma once
// Fixed waits counted in clock ticks of 55 ms (18.2 a second): the radio's
// flash erase and its restart after an update. The host's message pump runs
// between short sleeps, so the window stays alive; the wait ends early only
// when the program is told to quit, not on Stop.
//
// A transfer that follows such a wait depends on it: when the wait was cut
// short (false), the caller must not go on with the transfer.
#include <cstdint>
#include <functional>

namespace bcu::platform {
class Clock;
class MessagePump;
}  // namespace bcu::platform

namespace bcu::link {

struct CommLink;

inline constexpr std::uint32_t kTickMs = 55;

// Waits `ticks` × 55 ms of `clock` time; `pump` may be null. Each sleep lasts
// at most a few real milliseconds. True when the whole wait passed, false
// when it ended early because the program is told to quit.
[[nodiscard]] bool DelayTicks(platform::Clock& clock, platform::MessagePump* pump, int ticks);
// The same on the link's clock and pump (the system clock when it has none).
[[nodiscard]] bool DelayTicks(CommLink& link, int ticks);
// The same, ending early only when `endEarly` holds (asked after every pump;
// the program being told to quit is not looked at): a wait that a transfer
// which must not be cut depends on.
[[nodiscard]] bool DelayTicksUnless(CommLink& link, int ticks,
                                    const std::function<bool()>& endEarly);

}  // namespace bcu::link
