#include "platform/TimeText.h"

#include <chrono>

namespace bcu::platform {

void WallClockNow(std::time_t& seconds, int& milliseconds) {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  seconds = static_cast<std::time_t>(now / 1000);
  milliseconds = static_cast<int>(now % 1000);
}

}  // namespace bcu::platform
