#include "app/qt/QtHostTimer.h"

#include <algorithm>
#include <limits>

namespace bcu::qt {

QtHostTimer::QtHostTimer(platform::Clock& clock, platform::TimerHandler handler)
    : clock_(clock), handler_(std::move(handler)) {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (handler_) handler_();
  });
}

void QtHostTimer::SetInterval(std::uint32_t ms) {
  interval_ = ms;
  const std::uint32_t real = std::min<std::uint32_t>(
      clock_.RealMs(ms), static_cast<std::uint32_t>(std::numeric_limits<int>::max()));
  // setInterval on an active QTimer restarts its count, as the host timer
  // contract asks.
  timer_.setInterval(static_cast<int>(real));
}

void QtHostTimer::SetEnabled(bool enabled) {
  if (enabled) {
    timer_.start();  // a fresh count
  } else {
    timer_.stop();
  }
}

}  // namespace bcu::qt
