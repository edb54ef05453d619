#pragma once
// A GUI-style timer: an interval, an enabled switch and a handler that the
// host runs from its message pump. The link's reply time-out and the progress
// animation are timers of this kind; the window backs them with QTimer, the
// command line and the tests with a TimerQueue that their pump polls.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Clock.h"

namespace bcu::platform {

class Timer {
 public:
  virtual ~Timer() = default;
  // Interval in clock milliseconds. Changing it restarts the count.
  virtual void SetInterval(std::uint32_t ms) = 0;
  virtual std::uint32_t Interval() const = 0;
  // Enabling starts a fresh count; disabling stops it.
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

using TimerHandler = std::function<void()>;

// Timers driven by polling: Poll() runs the handler of every enabled timer whose
// interval has passed on the clock (once per Poll, however late it is).
// Not thread-safe: create, change and poll from one thread.
class TimerQueue {
 public:
  explicit TimerQueue(Clock& clock);
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  std::unique_ptr<Timer> Create(TimerHandler handler);
  void Poll();
  // Clock milliseconds until the next enabled timer is due (0 if one is due
  // now), or -1 when none is enabled.
  std::int64_t MsUntilNext();
  Clock& GetClock() { return clock_; }

 private:
  class QueuedTimer;
  friend class QueuedTimer;
  Clock& clock_;
  std::vector<QueuedTimer*> timers_;
};

}  // namespace bcu::platform
