// The serial port component on what real adapters do and a pseudo-terminal
// does not: RS-485 switching (by the driver or by the output thread), its
// priority, a transmitter that never empties, and flushes racing the reader.
// The driver's answers come from a FakeSerialDriver; the bytes still travel
// over a pseudo-terminal.
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/ScpComPort.h"
#include "link/ScpDispatcher.h"
#include "platform/Clock.h"
#include "support/FakeSerialDriver.h"
#include "support/ScpLineRate.h"
#include "support/ScpPseudoTerminal.h"

namespace bcu::link {
namespace {

using test::FakeSerialDriver;
using test::PseudoTerminal;
using test::TestPattern;
using Bytes = std::vector<std::uint8_t>;

class ScpLineControl : public ::testing::Test {
 protected:
  void Open(bool rs485) {
    port.SetSerialDriver(&driver);
    port.SetDevicePath(pty.SlavePath());
    port.SetRS485Mode(rs485);
    port.SetOpen(true);
  }
  std::vector<bool> RtsHistory() const {
    std::vector<bool> out;
    for (const auto& c : driver.LineChanges())
      if (c.line == platform::kSerialLineRts) out.push_back(c.on);
    return out;
  }
  // Waits (bounded) until the output ring is empty.
  bool Sent() {
    for (int i = 0; i < 1000 && port.OutBuffUsed() != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return port.OutBuffUsed() == 0;
  }

  PseudoTerminal pty;
  FakeSerialDriver driver;
  TScpComPort port;
};

// The reader sees a flush between its poll and its read as "nothing there",
// never as an unplugged device, however often it happens while bytes arrive.
TEST_F(ScpLineControl, FlushesWhileBytesArriveNeverLoseALivePort) {
  Open(false);
  std::atomic<bool> stop{false};
  std::thread radio([&] {
    const Bytes burst = TestPattern(64, 3);
    while (!stop) {
      pty.Write(burst);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < 3000 && !port.PortLost(); ++i) {
    port.FlushInBuffer();
    if (i % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  stop = true;
  radio.join();
  EXPECT_FALSE(port.PortLost());
  pty.ReadUntilSilent(50);
  const Bytes out = TestPattern(32, 5);
  ASSERT_EQ(port.PutBlock(out.data(), 32), 0);
  EXPECT_EQ(pty.Read(out.size()), out);
}

TEST_F(ScpLineControl, OpenRaisesDtrAndRs485ModeKeepsRtsLowWhileIdle) {
  driver.modemLines = true;
  Open(false);
  EXPECT_TRUE(driver.Dtr());
  EXPECT_TRUE(driver.Rts());
  EXPECT_FALSE(port.RtsByOutputThread());
  EXPECT_EQ(port.OutputPriority(), TScpOutputPriority::Normal);
  port.SetRS485Mode(true);
  EXPECT_FALSE(driver.Rts());
  EXPECT_TRUE(port.RtsByOutputThread());
  EXPECT_FALSE(port.KernelRS485());
  port.SetRS485Mode(false);
  EXPECT_TRUE(driver.Rts());
  EXPECT_EQ(port.OutputPriority(), TScpOutputPriority::Normal);
}

// Without driver support the output thread raises RTS before the first byte
// and drops it only once the transmitter reports the last one gone: here the
// transmitter counts as empty when the far end has read every byte.
TEST_F(ScpLineControl, OutputThreadHoldsRtsUntilTheTransmitterIsEmpty) {
  driver.modemLines = true;
  driver.transmitterBit = true;
  Open(true);
  ASSERT_TRUE(port.RtsByOutputThread());
  EXPECT_EQ(port.OutputPriority(), TScpOutputPriority::Raised);
  // At 1200 baud the frame's line time (2.4 s for two) keeps the release's
  // own limit far away.
  port.SetBaud(1200);
  const Bytes frame = TestPattern(137, 7);
  ASSERT_EQ(port.PutBlock(frame.data(), 137), 0);
  for (int i = 0; i < 1000 && driver.Written() < 137; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // The far end has not read yet: the bus stays ours and nothing counts as sent.
  EXPECT_TRUE(driver.Rts());
  EXPECT_EQ(port.OutBuffUsed(), 137);
  EXPECT_EQ(pty.Read(frame.size()), frame);
  driver.PeerTook(frame.size());
  ASSERT_TRUE(Sent());
  EXPECT_FALSE(driver.Rts());
  // A second frame raises it again.
  ASSERT_EQ(port.PutBlock(frame.data(), 10), 0);
  EXPECT_EQ(pty.Read(10), Bytes(frame.begin(), frame.begin() + 10));
  driver.PeerTook(10);
  ASSERT_TRUE(Sent());
  EXPECT_FALSE(driver.Rts());
  EXPECT_EQ(RtsHistory(), (std::vector<bool>{true, false, true, false, true, false}));
}

// A driver without a transmitter-empty bit: the thread waits in the driver's
// drain right after the last write, and drops RTS when it returns.
TEST_F(ScpLineControl, WithoutTheTransmitterBitRtsDropsAfterTheDriversDrain) {
  driver.modemLines = true;
  Open(true);
  const Bytes frame = TestPattern(20, 8);
  ASSERT_EQ(port.PutBlock(frame.data(), 20), 0);
  EXPECT_EQ(pty.Read(frame.size()), frame);
  ASSERT_TRUE(Sent());
  EXPECT_FALSE(driver.Rts());
  EXPECT_EQ(driver.Count("wait-sent"), 1);
}

TEST_F(ScpLineControl, RefusedPriorityRaiseIsReported) {
  driver.modemLines = true;
  driver.refusePriority = EACCES;
  Open(true);
  EXPECT_EQ(port.OutputPriority(), TScpOutputPriority::Refused);
  EXPECT_EQ(port.OutputPriorityError(), EACCES);
  // No RTS to switch (a pseudo-terminal as it is): no raise asked for.
  TScpComPort plain;
  PseudoTerminal other;
  plain.SetDevicePath(other.SlavePath());
  plain.SetRS485Mode(true);
  plain.SetOpen(true);
  EXPECT_FALSE(plain.RtsByOutputThread());
  EXPECT_EQ(plain.OutputPriority(), TScpOutputPriority::Normal);
}

TEST_F(ScpLineControl, ADriverThatSwitchesRs485ItselfIsLeftToDoIt) {
  driver.modemLines = true;
  driver.kernelRs485 = true;
  Open(true);
  EXPECT_TRUE(port.KernelRS485());
  EXPECT_TRUE(driver.Rs485Enabled());
  EXPECT_FALSE(port.RtsByOutputThread());
  EXPECT_EQ(port.OutputPriority(), TScpOutputPriority::Normal);
  const auto before = RtsHistory().size();
  const Bytes frame = TestPattern(50, 9);
  ASSERT_EQ(port.PutBlock(frame.data(), 50), 0);
  EXPECT_EQ(pty.Read(frame.size()), frame);
  ASSERT_TRUE(Sent());
  EXPECT_EQ(RtsHistory().size(), before);  // no RTS call of ours while sending
  port.SetOpen(false);
  EXPECT_FALSE(driver.Rs485Enabled());  // the driver's settings are back
}

// A hung adapter: its output queue never empties and its drain never ends.
TEST_F(ScpLineControl, RateChangeDoesNotWaitForAStuckTransmitter) {
  Open(false);
  driver.drainBlocks = true;
  driver.stuckOutput = 1;
  const Bytes frame = TestPattern(8, 1);
  ASSERT_EQ(port.PutBlock(frame.data(), 8), 0);
  pty.Read(8);
  port.SetBaud(115200);  // bounded: the ring never empties
  EXPECT_GT(port.OutBuffUsed(), 0);
  EXPECT_EQ(driver.Count("wait-sent"), 0);
  EXPECT_EQ(port.Baud(), 115200);
  EXPECT_EQ(test::LineRate(pty.SlaveFd()), 115200u);
}

TEST_F(ScpLineControl, CloseEndsADrainTheAdapterNeverFinishes) {
  driver.modemLines = true;
  driver.drainBlocks = true;
  driver.drainBlockMs = 20000;
  Open(true);
  driver.stuckOutput = 5;  // the bytes stay in the driver
  const Bytes frame = TestPattern(12, 2);
  ASSERT_EQ(port.PutBlock(frame.data(), 12), 0);
  for (int i = 0; i < 1000 && driver.Count("wait-sent") == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(driver.Count("wait-sent"), 1);
  EXPECT_TRUE(driver.Rts());  // the bus is held while the bytes are out
  port.SetOpen(false);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(driver.DrainsEndedByDiscard(), 1);
  EXPECT_FALSE(driver.Rts());
}

}  // namespace
}  // namespace bcu::link
