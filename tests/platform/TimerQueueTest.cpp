#include <gtest/gtest.h>

#include "platform/Timer.h"

namespace bcu::platform {
namespace {

TEST(TimerQueue, FiresEnabledTimersWhenDueAndRestartsOnEnable) {
  ManualClock clock;
  TimerQueue q(clock);
  int fired = 0;
  auto t = q.Create([&] { ++fired; });
  t->SetInterval(100);
  q.Poll();
  EXPECT_EQ(fired, 0);  // disabled
  t->SetEnabled(true);
  clock.Advance(99);
  q.Poll();
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(q.MsUntilNext(), 1);
  clock.Advance(1);
  q.Poll();
  EXPECT_EQ(fired, 1);
  clock.Advance(50);
  t->SetEnabled(true);  // a fresh count
  clock.Advance(60);
  q.Poll();
  EXPECT_EQ(fired, 1);
}

TEST(TimerQueue, HandlerMayDisableOrDestroyTimers) {
  ManualClock clock;
  TimerQueue q(clock);
  std::unique_ptr<Timer> b;
  auto a = q.Create([&] { b.reset(); });
  b = q.Create([] { FAIL() << "destroyed timer fired"; });
  a->SetInterval(10);
  b->SetInterval(10);
  a->SetEnabled(true);
  b->SetEnabled(true);
  clock.Advance(10);
  q.Poll();
  EXPECT_EQ(b, nullptr);
}

TEST(SteadyClock, ScaleMakesClockTimeRunFaster) {
  SteadyClock fast(0.01);
  auto t0 = fast.NowMs();
  fast.SleepMs(1000);  // 10 ms real
  EXPECT_GE(fast.NowMs() - t0, 1000u);
  EXPECT_EQ(fast.RealMs(1000), 10u);
}

}  // namespace
}  // namespace bcu::platform
