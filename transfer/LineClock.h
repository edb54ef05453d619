#pragma once
// The time line of a link whose far end lives in this process: it moves only
// when the line moves it (bytes on the line, a wait for the far end's next
// byte) or when a fixed wait sleeps on it, so a whole update runs in the time
// its bytes and waits would take on the real line, without waiting for it.
#include <cstdint>

#include "platform/Clock.h"

namespace bcu::transfer {

class LineClock final : public platform::Clock {
 public:
  std::uint64_t NowMs() override { return nowUs_ / 1000; }
  std::uint64_t NowUs() override { return nowUs_; }
  // Sleeping is the time passing: nothing blocks.
  void SleepMs(std::uint32_t clockMs) override { nowUs_ += std::uint64_t{clockMs} * 1000; }
  void AdvanceUs(std::uint64_t us) { nowUs_ += us; }

 private:
  std::uint64_t nowUs_ = 0;
};

}  // namespace bcu::transfer
