// The link's stop request and the length of its reply time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "link/CommLink.h"
#include "link/StopRequest.h"
#include "platform/Clock.h"
#include "platform/Pump.h"
#include "platform/Timer.h"
#include "support/LinkHost.h"
#include "support/LinkPeer.h"

namespace bcu::link {
namespace {

TEST(CommStop, NothingArmsTheLinkOnceAStopIsRequested) {
  CommLink link;
  CommInitLink(link);
  StopRequest stop;
  link.stop = &stop;
  CommSetRunning(link, true);
  EXPECT_TRUE(CommIsRunning(link));
  EXPECT_FALSE(CommStopRequested(link));

  stop.Request();
  EXPECT_TRUE(CommStopRequested(link));
  CommSetRunning(link, false);
  CommSetRunning(link, true);  // what a lower layer does before its exchange
  EXPECT_FALSE(CommIsRunning(link));
  {
    CommRunningScope scope(link);
    EXPECT_FALSE(scope.Armed());
    EXPECT_FALSE(CommIsRunning(link));
  }
  EXPECT_FALSE(CommIsRunning(link));

  // Only the owner, starting its next operation, withdraws it.
  stop.Reset();
  CommSetRunning(link, true);
  EXPECT_TRUE(CommIsRunning(link));
}

TEST(CommStop, ScopeGivesBackTheEarlierValueUnlessStoppedMeanwhile) {
  CommLink link;
  CommInitLink(link);
  StopRequest stop;
  link.stop = &stop;
  {
    CommRunningScope scope(link);  // from off
    EXPECT_TRUE(scope.Armed());
    EXPECT_TRUE(CommIsRunning(link));
  }
  EXPECT_FALSE(CommIsRunning(link));  // never forced on

  CommSetRunning(link, true);
  { CommRunningScope scope(link); }
  EXPECT_TRUE(CommIsRunning(link));
  { CommRunningScope scope(link, CommRunningScope::kOffAtExit); }
  EXPECT_FALSE(CommIsRunning(link));  // a transfer leaves it off

  CommSetRunning(link, true);
  {
    CommRunningScope scope(link);
    stop.Request();  // the user's Stop inside the exchange
    CommSetRunning(link, false);
  }
  EXPECT_FALSE(CommIsRunning(link));
}

TEST(CommStop, StopFromAnotherThreadEndsTheWaitInProgress) {
  // A controller running several updates stops one of them from its own
  // thread: the wait in progress ends as on Stop, long before its time-out.
  test::LinkPeer peer;
  ASSERT_TRUE(peer.Ok());
  peer.Start();  // collects, never answers
  test::LinkHost host;
  host.ports.SetDevicePath(1, peer.DevicePath());
  ASSERT_TRUE(host.OpenSerial(1));
  StopRequest stop;
  host.link.stop = &stop;
  CommSetTimeout(host.link, 600000);
  std::thread controller([&stop, &peer] {
    peer.WaitForFrames(1);
    stop.Request();
  });
  CommPacket request;
  CommMakeCommand(request, kKeyFileFormat, true);
  CommSendPacket(host.link, request);
  CommPacket reply;
  EXPECT_EQ(CommReceive(host.link, reply, 255, -1), -1);
  controller.join();
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
  EXPECT_EQ(host.TimeoutsFired(), 0);
  EXPECT_FALSE(CommIsRunning(host.link));
}

// A busy machine: the thread gets round to its wait only after the reply
// time-out has passed, while the radio's reply has long been waiting at the
// port. The reply counts; a stop at once does not take it.
TEST(CommTimeout, AReplyWaitingWhenTheTimeoutIsNoticedCounts) {
  struct LatePump final : platform::MessagePump {
    platform::ManualClock* clock = nullptr;
    platform::TimerQueue* timers = nullptr;
    std::function<void()> also;
    void Pump() override {
      clock->Advance(5000);  // the thread was away for 5 s
      timers->Poll();
      if (also) also();
    }
  };
  for (const bool stopAtOnce : {false, true}) {
    SCOPED_TRACE(stopAtOnce ? "stop at once" : "time-out");
    test::LinkPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.Start([](const test::PeerFrame& f) -> test::PeerReplies {
      if (f.Is(0x04, 0x1C)) return {test::LinkPeer::Frame({0x04, 0x1D, 5, 10})};
      return {};
    });
    test::LinkHost host(std::make_unique<platform::ManualClock>());
    host.ports.SetDevicePath(1, peer.DevicePath());
    ASSERT_TRUE(host.OpenSerial(1));
    StopRequest stop;
    host.link.stop = &stop;
    LatePump late;
    late.clock = host.Manual();
    late.timers = &host.timers;
    if (stopAtOnce) late.also = [&stop] { stop.Request(); };
    host.link.pump = &late;
    CommSetTimeout(host.link, 500);
    CommPacket request;
    CommMakeCommand(request, kKeyFileFormat, true);
    CommSendPacket(host.link, request);
    ASSERT_TRUE(peer.WaitForFrames(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the reply is at the port
    CommPacket reply;
    const int got = CommReceive(host.link, reply, 255, -1);
    EXPECT_EQ(host.TimeoutsFired(), 1);
    if (stopAtOnce) {
      EXPECT_EQ(got, -1);
      EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
      EXPECT_EQ(host.link.repliesAfterTimeout, 0);
    } else {
      ASSERT_EQ(got, 1);
      ASSERT_EQ(reply.length, 4);
      EXPECT_EQ(reply.data[1], 0x1D);
      EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
      EXPECT_EQ(host.link.repliesAfterTimeout, 1);
    }
    host.link.pump = &host.pump;
  }
}

// A stop after the step leaves the link's waits alone: only the steps ask
// for it. A stop at once that follows it holds.
TEST(CommStop, AStopAfterTheStepLeavesTheWaitsAlone) {
  CommLink link;
  CommInitLink(link);
  StopRequest stop;
  link.stop = &stop;
  CommSetRunning(link, true);
  stop.RequestAfterStep();
  EXPECT_TRUE(CommStopAfterStepRequested(link));
  EXPECT_FALSE(CommStopRequested(link));
  CommSetRunning(link, false);
  CommSetRunning(link, true);
  EXPECT_TRUE(CommIsRunning(link));
  stop.Request();
  stop.RequestAfterStep();  // never lowers a stop at once
  EXPECT_TRUE(CommStopRequested(link));
  CommSetRunning(link, true);
  EXPECT_FALSE(CommIsRunning(link));
}

TEST(CommTimeout, ReplyTimeoutsStayRealOnAScaledClock) {
  // The clock runs a hundred times fast for the fixed waits.
  test::LinkHost host(0.01);
  host.link.replyTimeoutScale = 1.0;
  CommSetTimeout(host.link, 4000);
  EXPECT_EQ(CommReplyTimeoutRealMs(host.link), 4000u);
  CommStartTimer(host.link);
  // 400,000 clock milliseconds last 4,000 real ones.
  EXPECT_EQ(host.commTimer->Interval(), 400000u);
  EXPECT_EQ(host.Clock().RealMs(host.commTimer->Interval()), 4000u);
  CommStopTimer(host.link);

  // An unscaled host gives the timer the time-out itself.
  test::LinkHost real;
  CommSetTimeout(real.link, 500);
  CommStartTimer(real.link);
  EXPECT_EQ(real.commTimer->Interval(), 500u);
}

TEST(CommTimeout, ShortenedTimeoutsKeepAFloorABusyMachineMeets) {
  CommLink link;
  CommInitLink(link);
  struct Case {
    double scale;
    std::uint32_t timeoutMs;
    std::uint32_t realMs;
  } cases[] = {
      {1.0, 15000, 15000}, {1.0, 500, 500},    {0.1, 15000, 1500},
      {0.1, 4000, 1500},   {0.01, 4000, 1500}, {0.01, 500, 500},
      {0.1, 200, 200},     {0.0, 4000, 4000},  {2.0, 4000, 4000},
  };
  for (const Case& c : cases) {
    link.replyTimeoutScale = c.scale;
    CommSetTimeout(link, c.timeoutMs);
    EXPECT_EQ(CommReplyTimeoutRealMs(link), c.realMs) << c.scale << " " << c.timeoutMs;
  }
  // A test's scaled host shortens them the same way.
  test::LinkHost host(0.01);
  CommSetTimeout(host.link, 4000);
  EXPECT_EQ(CommReplyTimeoutRealMs(host.link), kCommShortestTimeoutMs);
}

}  // namespace
}  // namespace bcu::link
