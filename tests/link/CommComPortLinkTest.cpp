// The link over the serial port component transport.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/CommLink.h"
#include "link/ScpComPort.h"
#include "support/LinkHost.h"
#include "support/LinkPeer.h"
#include "transfer/VYXCommDeviceSerial.h"

namespace bcu::link {
namespace {

using test::LinkHost;
using test::LinkPeer;
using test::PeerFrame;
using test::PeerReplies;
using Bytes = std::vector<std::uint8_t>;

CommPacket Packet(const Bytes& b) {
  CommPacket p;
  std::copy(b.begin(), b.end(), p.data);
  p.length = static_cast<std::int32_t>(b.size());
  return p;
}

class ComPortLink : public ::testing::Test {
 protected:
  ComPortLink() : host(0.05) {}
  void Open() {
    ASSERT_TRUE(peer.Ok());
    port.SetDevicePath(peer.DevicePath());
    port.SetRS485Mode(true);
    std::string text = "x";
    ASSERT_TRUE(CommOpenComPort(host.link, &port, text));
    EXPECT_EQ(text, "");
    CommSetRunning(host.link, true);
    CommSetFramed(host.link, true);
  }
  CommPacket WaitFileFormat(bool& alt) {
    return CommWaitReply(host.link, Packet({0x04, 0x1D}), 4, false, Packet({0x04, 0x20}), 2, alt);
  }

  LinkPeer peer;
  TScpComPort port;  // outlives the host, whose link refers to it
  LinkHost host;
};

TEST_F(ComPortLink, OpenErrorsAreTold) {
  std::string text;
  port.SetDevicePath("/dev/no-such-port-bcu");
  EXPECT_FALSE(CommOpenComPort(host.link, &port, text));
  EXPECT_EQ(text, "Unable to start communication: COM port error");
  EXPECT_TRUE(host.link.useComPort);
  transfer::VYXCommDeviceSerial holder;
  ASSERT_TRUE(holder.OpenPort(peer.DevicePath(), 14, false));
  port.SetDevicePath(peer.DevicePath());
  EXPECT_FALSE(CommOpenComPort(host.link, &port, text));
  EXPECT_EQ(text, "The chosen COM port is in use or not available");
  holder.Close();
  EXPECT_TRUE(CommOpenComPort(host.link, &port, text));
  EXPECT_TRUE(port.Open());
  CommCloseLink(host.link);
  EXPECT_FALSE(port.Open());
}

TEST_F(ComPortLink, FramedExchangeThenClose) {
  Open();
  peer.Start([](const PeerFrame& f) -> PeerReplies {
    if (f.Is(0x04, 0x1C)) return {LinkPeer::Frame({0x04, 0x1D, 0x05, 0x0A})};
    return {};
  });
  EXPECT_EQ(CommSendCommand(host.link, 0x04, 0x1C, nullptr, 0), 1);
  CommSetTimeout(host.link, 4000);
  bool alt = true;
  CommPacket got = WaitFileFormat(alt);
  EXPECT_EQ(Bytes(got.data, got.data + got.length), (Bytes{0x04, 0x1D, 0x05, 0x0A}));
  EXPECT_FALSE(alt);
  EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
  CommSendCommand(host.link, 0x02, 0x04, nullptr, 0);
  ASSERT_TRUE(peer.WaitForFrames(2));
  EXPECT_TRUE(peer.Frames()[1].Is(0x02, 0x04));
  CommCloseLink(host.link);
  EXPECT_FALSE(port.Open());
}

TEST_F(ComPortLink, SilenceGivesTwoAndBytesStillArrivingGiveFour) {
  Open();
  CommSetTimeout(host.link, 4000);
  bool alt = false;
  EXPECT_EQ(WaitFileFormat(alt).length, 0);
  EXPECT_TRUE(CommIsLineIdle(host.link));
  EXPECT_EQ(CommGetResult(host.link), kCommProblem);
  // The time-out strikes while bytes are arriving: the pump that ends the
  // wait runs with a byte already in the component's ring.
  int pumps = 0;
  host.pump.onPump = [&] {
    if (++pumps != 3) return;
    peer.Send({0x00, 0x00, 0x00});
    for (int i = 0; i < 100 && !port.CharReady(); ++i) port.WaitCharReady(10);
    CommSetRunning(host.link, false);
  };
  CommSetRunning(host.link, true);
  EXPECT_EQ(WaitFileFormat(alt).length, 0);
  EXPECT_FALSE(CommIsLineIdle(host.link));
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
}

TEST_F(ComPortLink, ReceiveNeverMarksTheLineIdle) {
  Open();
  CommSetTimeout(host.link, 4000);
  CommPacket p;
  p.length = 77;
  EXPECT_EQ(CommReceive(host.link, p, 255, -1), -1);
  EXPECT_EQ(p.length, 77);  // left alone
  EXPECT_FALSE(CommIsLineIdle(host.link));
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
}

TEST_F(ComPortLink, RawWaitKeepsTheChecksumByteAfterTheReply) {
  Open();
  CommSetFramed(host.link, false);
  peer.Send({0x11, 0xC5, 0x01, 0x02, 0x00, 0xC5, 0x01, 0x02, 0x38});  // second one sums to 0
  CommSetTimeout(host.link, 4000);
  bool alt = false;
  CommPacket got = CommWaitReply(host.link, Packet({0xC5}), 3, true, Packet({0xC7}), 1, alt);
  ASSERT_EQ(got.length, 3);
  EXPECT_EQ(Bytes(got.data, got.data + 4), (Bytes{0xC5, 0x01, 0x02, 0x38}));
  EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
}

TEST_F(ComPortLink, BootInfoIsAskedAgainWhileTheRadioIsBusy) {
  Open();
  std::atomic<int> asked{0};
  peer.Start([&](const PeerFrame& f) -> PeerReplies {
    if (!f.Is(0x04, 0x2D)) return {};
    if (++asked < 3) return {LinkPeer::Frame({0x04, 0x20})};
    return {LinkPeer::Frame({0x04, 0x2E, 0x09, 0x08})};
  });
  std::uint8_t boot[2] = {};
  EXPECT_EQ(CommReadBootInfo(host.link, 2, boot), kCommSuccess);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(boot[0], 0x09);
  EXPECT_EQ(boot[1], 0x08);
}

// The 04 20 resends share the read's one time-out: a radio that never stops
// answering 04 20 is given up on, and has no boot information.
TEST_F(ComPortLink, BootInfoResendsEndWithTheReadsTimeOut) {
  Open();
  constexpr int kAnswers = 200000;  // far more than fit into one time-out
  std::atomic<int> asked{0};
  peer.Start([&](const PeerFrame& f) -> PeerReplies {
    if (!f.Is(0x04, 0x2D) || ++asked > kAnswers) return {};
    return {LinkPeer::Frame({0x04, 0x20})};
  });
  std::uint8_t boot[2] = {0xEE, 0xEE};
  EXPECT_EQ(CommReadBootInfo(host.link, 7, boot), kCommNotAvailable);
  EXPECT_EQ(boot[0], 0);
  EXPECT_EQ(boot[1], 0);
  EXPECT_GT(asked, 1);
  EXPECT_LT(asked, kAnswers);
  EXPECT_EQ(host.TimeoutsFired(), 1);

  // Where a boot version is needed the time-out stands.
  CommSetRunning(host.link, true);
  asked = 0;
  const int result = CommReadBootInfo(host.link, 0, boot);
  EXPECT_TRUE(result == kCommTimedOut || result == kCommProblem) << result;
  EXPECT_LT(asked, kAnswers);
  peer.Stop();  // a request may still be on its way; `asked` ends here
}

TEST_F(ComPortLink, ABlockLargerThanTheOutputRingIsRefused) {
  port.SetOutSize(256);
  Open();
  peer.Start();
  CommSetFramed(host.link, false);
  CommPacket big;
  big.length = 300;
  EXPECT_EQ(CommSendPacket(host.link, big), -1);
  EXPECT_EQ(CommSendBlock(host.link, big), -1);
  big.length = 200;
  EXPECT_EQ(CommSendPacket(host.link, big), 0);
  big.length = 10;
  EXPECT_EQ(CommSendBlock(host.link, big), 1);
}

TEST_F(ComPortLink, ChangeBaudFollowsAfterThePacket) {
  Open();
  peer.Start();
  CommSetPortBaud(host.link, 19200);
  CommChangeBaud(host.link, 115200);
  ASSERT_TRUE(peer.WaitForFrames(1));
  EXPECT_EQ(peer.Frames()[0].payload, (Bytes{0x09, 0x00, 0x05}));
  EXPECT_EQ(port.Baud(), 115200);
  CommChangeBaud(host.link, 19200);
  ASSERT_TRUE(peer.WaitForFrames(2));
  EXPECT_EQ(peer.Frames()[1].payload, (Bytes{0x09, 0x00, 0x01}));
  EXPECT_EQ(port.Baud(), 19200);
}

TEST_F(ComPortLink, UnplugEndsTheWaitWithACommunicationProblem) {
  Open();
  CommSetTimeout(host.link, 600000);
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peer.Unplug();
  });
  CommPacket got = CommReceiveFrame(host.link);
  unplug.join();
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(host.TimeoutsFired(), 0);
  EXPECT_EQ(CommGetResult(host.link), kCommProblem);
}

}  // namespace
}  // namespace bcu::link
