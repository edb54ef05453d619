#pragma once
// A message pump for hosts without a GUI (command line, tests, benchmarks): each
// pass runs the timers that are due and then an optional hook of the host's
// (a Ctrl-C check, a test's script step).
#include <functional>

#include "platform/Pump.h"
#include "platform/Timer.h"

namespace bcu::platform {

class TimerPump : public MessagePump {
 public:
  explicit TimerPump(TimerQueue& timers) : timers_(timers) {}
  void Pump() override {
    timers_.Poll();
    if (onPump) onPump();
  }
  bool QuitRequested() const override { return quit; }

  std::function<void()> onPump;
  bool quit = false;

 private:
  TimerQueue& timers_;
};

}  // namespace bcu::platform
