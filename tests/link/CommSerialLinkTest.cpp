// The link over the serial device transport, against a scripted peer on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "link/CommLink.h"
#include "link/Frame.h"
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

Bytes Data(const CommPacket& p) {
  return Bytes(p.data, p.data + p.length);
}

bool Contains(const Bytes& hay, const Bytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

class RecordingTrace : public CommTrace {
 public:
  void OnSent(const std::uint8_t* b, int n) override { sent.emplace_back(b, b + n); }
  void OnReceived(const std::uint8_t* p, int n) override { received.emplace_back(p, p + n); }
  std::vector<Bytes> sent, received;
};

// A host on a scaled clock (a 4 s time-out lasts 0.2 s) with the peer's line
// as COM1.
class SerialLink : public ::testing::Test {
 protected:
  SerialLink() : host(0.05) { host.ports.SetDevicePath(1, peer.DevicePath()); }
  void Open() {
    ASSERT_TRUE(peer.Ok());
    ASSERT_TRUE(host.OpenSerial(1));
    host.link.trace = &trace;
  }
  CommPacket Wait(const Bytes& code, int len, const Bytes& alt, int altLen, bool& gotAlt) {
    return CommWaitReply(host.link, Packet(code), len, false, Packet(alt), altLen, gotAlt);
  }

  LinkPeer peer;
  LinkHost host;
  RecordingTrace trace;
};

TEST_F(SerialLink, StuffedBytesTravelBothWaysIntact) {
  Open();
  // The reply carries every marker in its data, and its checksum is 0x7E.
  Bytes reply = {0x04, 0x05, 0xBA, 0x7E, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
  // Header 01 7F plus the payload must sum to 0x82 for a checksum of 0x7E.
  std::uint8_t sum = 0x80;
  for (int i = 0; i < 9; ++i) sum = static_cast<std::uint8_t>(sum + reply[i]);
  reply[9] = static_cast<std::uint8_t>(0x82 - sum);
  Bytes wire = LinkPeer::Frame(reply);
  ASSERT_TRUE(Contains(wire, {0x10, 0x01, 0x7E}));  // stuffed checksum before the end
  peer.Start([&](const PeerFrame& f) -> PeerReplies {
    if (f.Is(0x04, 0x04)) return {wire};
    return {};
  });
  const std::uint8_t data[] = {0xBA, 0x7E, 0x10};
  EXPECT_EQ(CommSendCommand(host.link, 0x04, 0x04, data, 3), 13);  // bytes on the wire
  ASSERT_TRUE(peer.WaitForFrames(1));
  EXPECT_EQ(peer.Frames()[0].payload, (Bytes{0x04, 0x04, 0xBA, 0x7E, 0x10}));
  EXPECT_EQ(peer.Frames()[0].header2, 0x01);
  EXPECT_TRUE(Contains(peer.RawBytes(), {0x04, 0x04, 0x10, 0x00, 0x10, 0x01, 0x10, 0x02}));
  CommSetTimeout(host.link, 4000);
  bool alt = true;
  CommPacket got = Wait({0x04, 0x05}, 10, {0x04, 0x20}, 2, alt);
  EXPECT_EQ(Data(got), reply);
  EXPECT_FALSE(alt);
  EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
  ASSERT_EQ(trace.sent.size(), 1u);
  EXPECT_EQ(trace.sent[0], BuildFrame(Bytes({0x04, 0x04, 0xBA, 0x7E, 0x10}).data(), 5));
  ASSERT_EQ(trace.received.size(), 1u);
  EXPECT_EQ(trace.received[0], reply);
  EXPECT_FALSE(host.commTimer->Enabled());  // every wait stops its timer
}

TEST_F(SerialLink, BadFramesAreDroppedAndTheGoodOneAccepted) {
  Open();
  Bytes good = LinkPeer::Frame({0x04, 0x1D, 0x05, 0x0A});
  Bytes badSum = good;
  badSum[5] ^= 0x01;
  Bytes wrongHeader = BuildFrame(Bytes({0x04, 0x1D, 0x05, 0x0A}).data(), 4, 0x7F, 0x01);
  Bytes wrongLength = LinkPeer::Frame({0x04, 0x1D, 0x05});
  Bytes otherCode = LinkPeer::Frame({0x04, 0x1E, 0x05, 0x0A});
  Bytes cutOff = {0xBA, 0x01, 0x7F, 0x04, 0x1D};  // restarted by the next 0xBA
  Bytes stream;
  for (const Bytes* b : {&badSum, &wrongHeader, &wrongLength, &otherCode, &cutOff, &good})
    stream.insert(stream.end(), b->begin(), b->end());
  peer.Start([&](const PeerFrame&) -> PeerReplies { return {stream}; });
  CommPacket req;
  CommMakeCommand(req, kKeyFileFormat, true);
  CommSendPacket(host.link, req);
  CommSetTimeout(host.link, 4000);
  bool alt = false;
  CommPacket got = Wait({0x04, 0x1D}, 4, {0x04, 0x20}, 2, alt);
  EXPECT_EQ(Data(got), (Bytes{0x04, 0x1D, 0x05, 0x0A}));
  EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
  // Good frames of another code or length were seen (and traced) but dropped.
  EXPECT_EQ(trace.received.size(), 3u);
  EXPECT_EQ(host.TimeoutsFired(), 0);
}

TEST_F(SerialLink, WrongLengthRunsToTheTimeoutWithResultFour) {
  Open();
  peer.Start([&](const PeerFrame&) -> PeerReplies {
    return {LinkPeer::Frame({0x04, 0x1D, 0x05})};
  });
  CommSendCommand(host.link, 0x04, 0x1C, nullptr, 0);
  CommSetTimeout(host.link, 4000);
  bool alt = false;
  CommPacket got = Wait({0x04, 0x1D}, 4, {0x04, 0x20}, 2, alt);
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(host.TimeoutsFired(), 1);
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
  // Not running any more: the next wait returns at once, without pumping.
  int pumps = 0;
  host.pump.onPump = [&] { ++pumps; };
  got = Wait({0x04, 0x1D}, 4, {0x04, 0x20}, 2, alt);
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(pumps, 0);
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
}

TEST_F(SerialLink, StopFromThePumpEndsTheWait) {
  Open();
  int pumps = 0;
  host.pump.onPump = [&] {
    if (++pumps == 5) CommSetRunning(host.link, false);
  };
  CommSetTimeout(host.link, 600000);
  CommPacket got = CommReceiveFrame(host.link);
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(pumps, 5);
  EXPECT_EQ(host.TimeoutsFired(), 0);
  EXPECT_EQ(CommGetResult(host.link), kCommTimedOut);
  EXPECT_FALSE(host.commTimer->Enabled());
}

TEST_F(SerialLink, UnplugEndsTheWaitWithACommunicationProblem) {
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
  // Every later wait says the same, and sending fails.
  CommPacket p;
  EXPECT_EQ(CommReceive(host.link, p, 255, -1), -1);
  EXPECT_EQ(CommGetResult(host.link), kCommProblem);
  EXPECT_EQ(CommSendCommand(host.link, 0x04, 0x1C, nullptr, 0), -1);
}

TEST_F(SerialLink, ClosedDeviceEndsTheWaitAsAProblem) {
  Open();
  host.link.serialDevice->Close();
  CommSetTimeout(host.link, 600000);
  bool alt = false;
  CommPacket got = Wait({0x04, 0x1D}, 4, {0x04, 0x20}, 2, alt);
  EXPECT_EQ(got.length, 0);
  EXPECT_EQ(CommGetResult(host.link), kCommProblem);
  CommCloseLink(host.link);
  EXPECT_EQ(host.link.serialDevice, nullptr);
}

TEST_F(SerialLink, OpenErrorsComeBackAsText) {
  std::string text;
  host.ports.SetDevicePath(2, "/dev/no-such-port-bcu");
  EXPECT_FALSE(CommOpenSerialDevice(host.link, 2, 19200, 0, text));
  EXPECT_EQ(text, "Unable to start communication: COM port error");
  EXPECT_NE(host.link.serialDevice, nullptr);  // kept until the link closes
  CommCloseLink(host.link);
  EXPECT_EQ(host.link.serialDevice, nullptr);
  // A port this process already holds through another device.
  transfer::VYXCommDeviceSerial holder;
  ASSERT_TRUE(holder.OpenPort(peer.DevicePath(), 14, false));
  text.clear();
  EXPECT_FALSE(CommOpenSerialDevice(host.link, 1, 19200, 0, text));
  EXPECT_EQ(text, "Unable to start communication: COM port error");
  holder.Close();
  text = "untouched";
  EXPECT_TRUE(CommOpenSerialDevice(host.link, 1, 19200, 0, text));
  EXPECT_EQ(text, "untouched");
  EXPECT_FALSE(host.link.useComPort);
  EXPECT_FALSE(host.link.running);
  EXPECT_EQ(host.link.serialDevice->Port().GetBaudRate(), 14);
}

TEST_F(SerialLink, ChangeBaudSendsTheRateByteAndFollows) {
  Open();
  peer.Start();
  struct Case {
    int baud;
    std::uint8_t rateByte;
    std::uint32_t localRate;
  } cases[] = {{115200, 5, 115200}, {9600, 0, 9600},   {38400, 3, 38400},
               {57600, 4, 57600},   {19200, 1, 19200}, {14400, 1, 19200}};
  std::size_t n = 0;
  for (const auto& c : cases) {
    CommChangeBaud(host.link, c.baud);
    ASSERT_TRUE(peer.WaitForFrames(++n));
    EXPECT_EQ(peer.Frames().back().payload, (Bytes{0x09, 0x00, c.rateByte})) << c.baud;
    EXPECT_EQ(host.link.serialDevice->Port().Dcb().BaudRate, c.localRate) << c.baud;
  }
}

TEST_F(SerialLink, ProbeSucceedsOnlyOnASixByteInterfaceReply) {
  Open();
  std::atomic<int> variant{0};
  peer.Start([&](const PeerFrame& f) -> PeerReplies {
    if (f.header2 != 0x4F) return {};
    if (variant == 0) return {LinkPeer::Frame({0x09, 0x02, 1, 2, 3})};     // too short
    if (variant == 1) return {LinkPeer::Frame({0x09, 0x03, 1, 2, 3, 4})};  // other code
    return {LinkPeer::Frame({0x09, 0x02, 0x00, 0x00, 0x67, 0x00})};
  });
  for (int v = 0; v < 3; ++v) {
    variant = v;
    CommSetRunning(host.link, true);
    CommSetTimeout(host.link, 500);
    EXPECT_EQ(CommProbeInterface(host.link), v == 2) << v;
    EXPECT_EQ(host.link.framed, 1);
  }
  Bytes probe = {0xBA, 0x7F, 0x4F, 0x09, 0x01, 0x77, 0x77, 0x77, 0xC3, 0x7E};
  Bytes raw = peer.RawBytes();
  ASSERT_EQ(raw.size(), 30u);
  EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 10), probe);
}

// A radio that answers every information request; `missing` requests go
// unanswered, `notAvailable` are answered with 04 20.
PeerReplies Radio(const PeerFrame& f, const std::vector<std::uint8_t>& missing,
                  const std::vector<std::uint8_t>& notAvailable, std::uint8_t controller) {
  if (f.payload.size() != 2 || f.payload[0] != 0x04) return {};
  const std::uint8_t code = f.payload[1];
  if (std::find(missing.begin(), missing.end(), code) != missing.end()) return {};
  if (std::find(notAvailable.begin(), notAvailable.end(), code) != notAvailable.end())
    return {LinkPeer::Frame({0x04, 0x20})};
  switch (code) {
    case 0x1C:
      return {LinkPeer::Frame({0x04, 0x1D, 5, 10})};
    case 0x0B:
      return {LinkPeer::Frame({0x04, 0x0C, 1, 2, 3})};
    case 0x09:
      return {LinkPeer::Frame({0x04, 0x0A, controller, 5, 6})};
    case 0x07:
      return {LinkPeer::Frame({0x04, 0x08, 7, 8, 9})};
    case 0x04:
      return {LinkPeer::Frame({0x04, 0x05, 'S', 'N', '1', '2', '3', '4', '5', '6'})};
    case 0x2D:
      return {LinkPeer::Frame({0x04, 0x2E, 0x03, 0x01})};
    case 0x3E:
      return {LinkPeer::Frame({0x04, 0x3F, 0x02, 0x07})};
    default:
      return {};
  }
}

TEST_F(SerialLink, RadioInfoFillsTheRecord) {
  Open();
  peer.Start([](const PeerFrame& f) { return Radio(f, {}, {}, 4); });
  VersionInfo info;
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 7, info, true), kCommSuccess);
  const Bytes want = {5,   10,  1,   2,   3,   4,   5,   6, 7, 8, 9, 'S',
                      'N', '1', '2', '3', '4', '5', '6', 3, 1, 2, 7};
  EXPECT_EQ(Bytes(info.data, info.data + 23), want);
  EXPECT_EQ(host.link.timeoutMs, 4000u);
  // A controller without extra boot information: no 04 3E asked, 21-22 zero.
  peer.Start([](const PeerFrame& f) { return Radio(f, {}, {}, 3); });
  std::size_t before = peer.Frames().size();
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 7, info, true), kCommSuccess);
  EXPECT_EQ(peer.Frames().size() - before, 6u);
  EXPECT_EQ(info.data[21], 0);
  EXPECT_EQ(info.data[22], 0);
}

TEST_F(SerialLink, RadioInfoWithoutBootReply) {
  Open();
  peer.Start([](const PeerFrame& f) { return Radio(f, {0x2D}, {}, 4); });
  VersionInfo info;
  info.data[19] = info.data[20] = 0xEE;
  // Platform 7: a missing boot reply is allowed.
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 7, info, false), kCommNotAvailable);
  EXPECT_EQ(info.data[19], 0);
  EXPECT_EQ(info.data[20], 0);
  EXPECT_EQ(info.data[11], 'S');
  // Platform 2: the time-out stands.
  CommSetRunning(host.link, true);
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 2, info, false), kCommTimedOut);
  // With the extra boot step (controller 4): it returns at once, result 8.
  CommSetRunning(host.link, true);
  const int fired = host.TimeoutsFired();
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 7, info, true), kCommNoExtraBoot);
  EXPECT_EQ(host.TimeoutsFired(), fired + 1);
}

TEST_F(SerialLink, NotAvailableAnswersGiveZeroDataAndNoBootVersion) {
  Open();
  peer.Start([](const PeerFrame& f) { return Radio(f, {}, {0x07, 0x2D}, 3); });
  VersionInfo info;
  std::fill(info.data, info.data + 23, 0xEE);
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 2, info, false), kCommSuccess);
  EXPECT_EQ(Bytes(info.data + 8, info.data + 11), (Bytes{0, 0, 0}));
  EXPECT_EQ(Bytes(info.data + 19, info.data + 23), (Bytes{0, 0, 0, 0}));
  // Where a missing boot version is allowed, 04 20 to the boot query is
  // "not available" in both reads.
  std::fill(info.data, info.data + 23, 0xEE);
  EXPECT_EQ(CommReadRadioInfoTimed(host.link, 7, info, false), kCommNotAvailable);
  EXPECT_EQ(Bytes(info.data + 19, info.data + 21), (Bytes{0, 0}));
  std::uint8_t boot[2] = {0xEE, 0xEE};
  EXPECT_EQ(CommReadBootInfo(host.link, 7, boot), kCommNotAvailable);
  EXPECT_EQ(boot[0], 0);
  EXPECT_EQ(boot[1], 0);
  // Elsewhere there is no version to check against: a communication problem,
  // not version 0.0.
  boot[0] = boot[1] = 0xEE;
  EXPECT_EQ(CommReadBootInfo(host.link, 2, boot), kCommProblem);
  EXPECT_EQ(boot[0], 0xEE);
  EXPECT_TRUE(CommIsRunning(host.link));
}

TEST_F(SerialLink, BootInfoByPlatform) {
  Open();
  peer.Start([](const PeerFrame& f) { return Radio(f, {}, {}, 3); });
  std::uint8_t boot[2] = {};
  EXPECT_EQ(CommReadBootInfo(host.link, 5, boot), kCommSuccess);
  EXPECT_EQ(boot[0], 3);
  EXPECT_EQ(boot[1], 1);
  peer.Start([](const PeerFrame& f) { return Radio(f, {0x2D}, {}, 3); });
  boot[0] = boot[1] = 0xEE;
  EXPECT_EQ(CommReadBootInfo(host.link, 8, boot), kCommNotAvailable);
  EXPECT_EQ(boot[0], 0);
  CommSetRunning(host.link, true);
  boot[0] = boot[1] = 0xEE;
  EXPECT_EQ(CommReadBootInfo(host.link, 0, boot), kCommTimedOut);
  EXPECT_EQ(boot[0], 0xEE);
}

TEST_F(SerialLink, RawReceiveNeedsTheFirstByteAndAZeroSum) {
  Open();
  CommSetFramed(host.link, false);
  // Noise, a packet with a bad sum, then a good one: C5 12 29 (sum 0x100).
  peer.Send({0x00, 0x33, 0xC5, 0x12, 0x28, 0xC5, 0x12, 0x29});
  CommSetTimeout(host.link, 4000);
  CommPacket p;
  ASSERT_EQ(CommReceive(host.link, p, 0xC5, 3), 1);
  EXPECT_EQ(Data(p), (Bytes{0xC5, 0x12, 0x29}));
  EXPECT_EQ(CommGetResult(host.link), kCommSuccess);
  // The raw form goes out unchanged.
  peer.Start();
  EXPECT_EQ(CommSendShortCommand(host.link, 0xBA, nullptr, 0), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(peer.RawBytes(), (Bytes{0xBA}));
}

// Two links on two lines in two threads: each sees only its own radio.
TEST(SerialLinkThreads, TwoLinksInTwoThreadsDoNotMeet) {
  auto run = [](std::uint8_t tag, int& good) {
    LinkPeer peer;
    LinkHost host(0.05);
    peer.Start([tag](const PeerFrame& f) -> PeerReplies {
      if (f.Is(0x04, 0x1C))
        return {LinkPeer::Frame(
            {0x04, 0x1D, tag, f.payload.size() > 2 ? f.payload[2] : std::uint8_t{0}})};
      return {};
    });
    host.ports.SetDevicePath(1, peer.DevicePath());
    if (!host.OpenSerial(1)) return;
    CommSetTimeout(host.link, 4000);
    for (int i = 0; i < 100; ++i) {
      const std::uint8_t seq = static_cast<std::uint8_t>(i);
      CommSendCommand(host.link, 0x04, 0x1C, &seq, 1);
      bool alt = false;
      CommPacket r =
          CommWaitReply(host.link, Packet({0x04, 0x1D}), 4, false, Packet({0x04, 0x20}), 2, alt);
      if (r.length == 4 && r.data[2] == tag && r.data[3] == seq) ++good;
    }
  };
  int goodA = 0, goodB = 0;
  std::thread a(run, std::uint8_t{0xA1}, std::ref(goodA));
  std::thread b(run, std::uint8_t{0xB2}, std::ref(goodB));
  a.join();
  b.join();
  EXPECT_EQ(goodA, 100);
  EXPECT_EQ(goodB, 100);
}

}  // namespace
}  // namespace bcu::link
