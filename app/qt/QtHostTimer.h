#pragma once
// A host timer backed by a QTimer: its handler runs from the Qt event loop,
// which the window's pump turns while an update waits. Intervals are clock
// milliseconds; a scaled clock makes them pass faster in real time.
#include <QTimer>

#include "platform/Clock.h"
#include "platform/Timer.h"

namespace bcu::qt {

class QtHostTimer final : public platform::Timer {
 public:
  QtHostTimer(platform::Clock& clock, platform::TimerHandler handler);
  void SetInterval(std::uint32_t ms) override;
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return timer_.isActive(); }

 private:
  platform::Clock& clock_;
  platform::TimerHandler handler_;
  QTimer timer_;
  std::uint32_t interval_ = 0;
};

}  // namespace bcu::qt
