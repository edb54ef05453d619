// The serial device on what real adapters do and a pseudo-terminal does not:
// modem lines that follow the flow-control code, a driver that switches
// RS-485 itself, and an adapter whose output never drains. The driver's
// answers come from a FakeSerialDriver; the bytes travel over a
// pseudo-terminal.
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/FakeSerialDriver.h"
#include "support/ScpPseudoTerminal.h"
#include "transfer/VYXCommDeviceSerial.h"

namespace bcu::transfer {
namespace {

using test::FakeSerialDriver;
using test::PseudoTerminal;
using Bytes = std::vector<std::uint8_t>;

std::vector<bool> History(const FakeSerialDriver& driver, int line) {
  std::vector<bool> out;
  for (const auto& c : driver.LineChanges())
    if (c.line == line) out.push_back(c.on);
  return out;
}

// Linux raises DTR and RTS when a port opens; a cable that takes power or
// direction from RTS must not see it on for the whole session.
TEST(SerialModemLines, FollowTheFlowControlCode) {
  PseudoTerminal pty;
  FakeSerialDriver driver;
  driver.modemLines = true;
  VYXCommDeviceSerial dev(nullptr, &driver);
  ASSERT_TRUE(dev.OpenPort(pty.SlavePath(), 14, false));  // code 0, as the link opens it
  EXPECT_FALSE(driver.Rts());
  EXPECT_TRUE(driver.Dtr());
  const Bytes frame = {0xBA, 0x7F, 0x01, 0x04, 0x1C, 0x60, 0x7E};
  ASSERT_EQ(dev.Write(frame.data(), 7), 7);
  EXPECT_EQ(pty.Read(7), frame);
  EXPECT_FALSE(driver.Rts());  // code 0 never raises it

  auto& port = dev.Port();
  port.SetFlowControl(kFlowHardware);
  EXPECT_TRUE(driver.Rts());
  port.SetFlowControl(kFlowSoftware);
  EXPECT_FALSE(driver.Rts());
  // CTS with RTS toggle, no RS-485 in the driver: raised around each write.
  port.SetFlowControl(kFlowCtsRtsToggle);
  EXPECT_FALSE(port.KernelRs485());
  EXPECT_FALSE(driver.Rts());
  const std::size_t before = History(driver, platform::kSerialLineRts).size();
  ASSERT_EQ(dev.Write(frame.data(), 7), 7);
  EXPECT_EQ(pty.Read(7), frame);
  EXPECT_FALSE(driver.Rts());
  const auto rts = History(driver, platform::kSerialLineRts);
  EXPECT_EQ(std::vector<bool>(rts.begin() + static_cast<std::ptrdiff_t>(before), rts.end()),
            (std::vector<bool>{true, false}));
  EXPECT_TRUE(driver.Dtr());
}

TEST(SerialModemLines, ToggleUsesTheDriversRs485WhereItHasOne) {
  PseudoTerminal pty;
  FakeSerialDriver driver;
  driver.modemLines = true;
  driver.kernelRs485 = true;
  VYXCommDeviceSerial dev(nullptr, &driver);
  ASSERT_TRUE(dev.OpenPort(pty.SlavePath(), 14, false));
  EXPECT_TRUE(dev.Port().KernelRs485Available());
  EXPECT_FALSE(driver.Rs485Enabled());  // asking left it as it was
  dev.SetHandshake(true);
  EXPECT_TRUE(dev.Port().KernelRs485());
  EXPECT_TRUE(driver.Rs485Enabled());
  const std::size_t before = History(driver, platform::kSerialLineRts).size();
  const Bytes frame = {1, 2, 3};
  ASSERT_EQ(dev.Write(frame.data(), 3), 3);
  EXPECT_EQ(History(driver, platform::kSerialLineRts).size(), before);  // the driver does it
  dev.SetHandshake(false);
  EXPECT_FALSE(driver.Rs485Enabled());
  EXPECT_FALSE(driver.Rts());
  dev.Close();

  FakeSerialDriver plain;  // no RS-485 in the driver
  VYXCommDeviceSerial other(nullptr, &plain);
  ASSERT_TRUE(other.OpenPort(pty.SlavePath(), 14, false));
  EXPECT_FALSE(other.Port().KernelRs485Available());
}

// A hung adapter: a plain write hands its bytes over and returns (nothing
// drains per frame), the close's drain gives up within its bound, and what is
// left is discarded instead of waiting the driver's closing time for it.
TEST(SerialBoundedDrain, FailedDrainIsDiscardedBeforeTheClose) {
  PseudoTerminal pty;
  FakeSerialDriver driver;
  VYXCommDeviceSerial dev(nullptr, &driver);
  ASSERT_TRUE(dev.OpenPort(pty.SlavePath(), 19, false));
  driver.stuckOutput = 4;
  driver.drainBlocks = true;
  const int drains = driver.Count("wait-sent");
  const Bytes frame(40, 0x55);
  EXPECT_EQ(dev.Write(frame.data(), 40), 40);
  EXPECT_EQ(driver.Count("wait-sent"), drains);
  EXPECT_EQ(dev.Close(), 1);
  // The queue never emptied: the transmitter's drain was never waited for.
  EXPECT_EQ(driver.Count("wait-sent"), drains);
  const auto calls = driver.CallLog();
  const auto discard = std::find(calls.begin(), calls.end(), "discard-out");
  const auto close = std::find(calls.begin(), calls.end(), "close");
  ASSERT_NE(discard, calls.end());
  ASSERT_NE(close, calls.end());
  EXPECT_LT(discard, close);
}

// Where the line must be empty, it is drained: before RTS drops after a
// write (CTS with RTS toggle, no RS-485 in the driver), where the write fails
// on a hung adapter; and before the rate changes. A plain write drains
// nothing.
TEST(SerialBoundedDrain, DrainsOnlyWhereTheLineMustBeEmpty) {
  PseudoTerminal pty;
  FakeSerialDriver driver;
  driver.modemLines = true;
  VYXCommDeviceSerial dev(nullptr, &driver);
  ASSERT_TRUE(dev.OpenPort(pty.SlavePath(), 19, false));
  const Bytes frame(40, 0x55);
  int drains = driver.Count("wait-sent");
  ASSERT_EQ(dev.Write(frame.data(), 40), 40);
  EXPECT_EQ(pty.Read(40), frame);
  EXPECT_EQ(driver.Count("wait-sent"), drains);
  dev.SetBaud(14);  // 19,200 baud: what was written leaves first
  EXPECT_EQ(driver.Count("wait-sent"), drains + 1);
  dev.SetBaud(14);  // nothing written since: nothing to drain
  EXPECT_EQ(driver.Count("wait-sent"), drains + 1);

  dev.SetHandshake(true);
  drains = driver.Count("wait-sent");
  ASSERT_EQ(dev.Write(frame.data(), 40), 40);
  EXPECT_EQ(pty.Read(40), frame);
  EXPECT_EQ(driver.Count("wait-sent"), drains + 1);
  driver.stuckOutput = 4;
  EXPECT_EQ(dev.Write(frame.data(), 40), -1);
  EXPECT_EQ(dev.ErrorCode(), kSerialErrWrite);
  EXPECT_FALSE(driver.Rts());  // released even so
  EXPECT_EQ(dev.Close(), 1);
  EXPECT_GE(driver.Count("discard-out"), 1);
}

TEST(SerialBoundedDrain, CleanCloseDiscardsNothing) {
  PseudoTerminal pty;
  FakeSerialDriver driver;
  VYXCommDeviceSerial dev(nullptr, &driver);
  ASSERT_TRUE(dev.OpenPort(pty.SlavePath(), 19, false));
  const Bytes frame(40, 0x55);
  ASSERT_EQ(dev.Write(frame.data(), 40), 40);
  EXPECT_EQ(pty.Read(40), frame);
  dev.Close();
  EXPECT_EQ(driver.Count("discard-out"), 0);
  EXPECT_EQ(driver.Count("close"), 1);
}

}  // namespace
}  // namespace bcu::transfer
