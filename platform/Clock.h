#pragma once
// The time line an update runs on.
//
// Every fixed wait (the erase wait, the restart waits) and every reply time-out
// reads time through a Clock, never from the system directly, so that a test can
// drive time by hand and a scale factor can make a virtual radio's long waits
// pass quickly. Scale s means: one millisecond of clock time lasts s real
// milliseconds (s = 0.01 makes a 20 s restart wait take 0.2 s).
#include <cstdint>

namespace bcu::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic clock time in milliseconds. Only differences are meaningful.
  virtual std::uint64_t NowMs() = 0;
  // The same time line in microseconds, for timing finer than a millisecond
  // (a line byte lasts 87 us at 115200 baud). Clocks without a finer time
  // only step by whole milliseconds.
  virtual std::uint64_t NowUs() { return NowMs() * 1000; }
  // Real milliseconds per clock millisecond (1.0 for an unscaled clock).
  virtual double Scale() const { return 1.0; }
  // Blocks the calling thread for `clockMs` of clock time, without pumping.
  virtual void SleepMs(std::uint32_t clockMs) = 0;

  // Real milliseconds that `clockMs` of clock time last, rounded up, at least
  // 0. Used to bound blocking waits on descriptors.
  std::uint32_t RealMs(std::uint32_t clockMs) const;
};

// The system's monotonic clock, optionally scaled.
class SteadyClock final : public Clock {
 public:
  explicit SteadyClock(double scale = 1.0);
  std::uint64_t NowMs() override;
  std::uint64_t NowUs() override;
  double Scale() const override { return scale_; }
  void SleepMs(std::uint32_t clockMs) override;

 private:
  double scale_;
  std::uint64_t startRealUs_;
};

// A clock that only moves when told to; SleepMs advances it at once.
class ManualClock final : public Clock {
 public:
  std::uint64_t NowMs() override { return now_; }
  void SleepMs(std::uint32_t clockMs) override { now_ += clockMs; }
  void Advance(std::uint64_t ms) { now_ += ms; }

 private:
  std::uint64_t now_ = 0;
};

// Real monotonic time in microseconds (for measurements and blocking waits).
std::uint64_t RealMicros();

}  // namespace bcu::platform
