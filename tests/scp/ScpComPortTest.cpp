// The serial port component against pseudo-terminals: the test holds the
// master side as the radio.
#include "link/ScpComPort.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/PortTable.h"
#include "support/ScpLineRate.h"
#include "support/ScpPseudoTerminal.h"

namespace bcu::link {
namespace {

using test::PseudoTerminal;
using test::TestPattern;
using Bytes = std::vector<std::uint8_t>;

template <class F>
int ErrorCodeOf(F&& f) {
  try {
    f();
  } catch (const EScpException& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Takes n bytes out of the port's receive ring; stops early after 5 s without
// a byte (only a failing test gets there).
Bytes ReceiveFromPort(TScpComPort& port, std::size_t n) {
  Bytes out;
  while (out.size() < n) {
    if (!port.WaitCharReady(5000)) break;
    while (out.size() < n && port.CharReady()) out.push_back(port.GetChar());
  }
  return out;
}

// Hands all bytes to the port in blocks of at most 1000, as room allows.
void SendThroughPort(TScpComPort& port, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t n = std::min<std::size_t>({bytes.size() - done, port.OutBuffFree(), 1000});
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ASSERT_EQ(port.PutBlock(bytes.data() + done, static_cast<std::uint32_t>(n)), 0);
    done += n;
  }
}

// With the radio not reading, hands blocks to the port until the system's
// queue is full and the output ring holds bytes that stay there. Returns
// everything accepted.
Bytes FillUntilHeld(TScpComPort& port, const PseudoTerminal& pty) {
  Bytes accepted;
  std::uint32_t seed = 1;
  for (;;) {
    if (port.OutBuffFree() >= 1000) {
      const Bytes block = TestPattern(1000, seed++);
      EXPECT_EQ(port.PutBlock(block.data(), 1000), 0);
      accepted.insert(accepted.end(), block.begin(), block.end());
      continue;
    }
    if (pty.SlaveWritable()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    // The device takes nothing more; let the output thread finish the write
    // it may still be in (the used count stops moving).
    std::uint16_t before = 0;
    std::uint16_t after = port.OutBuffUsed();
    do {
      before = after;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      after = port.OutBuffUsed();
    } while (after != before);
    if (after > 0) return accepted;
  }
}

class ScpComPortTest : public ::testing::Test {
 protected:
  void OpenOn(TScpComPort& port, PseudoTerminal& pty) {
    port.SetDevicePath(pty.SlavePath());
    port.SetOpen(true);
  }
  PseudoTerminal pty_;
  TScpComPort port_;
};

TEST(ScpComPortClosed, DefaultsAndClosedAnswersDoNotOpen) {
  TScpComPort port;
  EXPECT_EQ(port.ComNumber(), 0);
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.Parity(), TScpParity::None);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_EQ(port.OutSize(), 4096);
  EXPECT_FALSE(port.RS485Mode());
  EXPECT_FALSE(port.Open());

  EXPECT_EQ(port.OutBuffFree(), 4096);
  EXPECT_EQ(port.OutBuffUsed(), 0);
  EXPECT_FALSE(port.CTS());
  EXPECT_FALSE(port.WaitCharReady(0));
  EXPECT_FALSE(port.PortLost());
  port.SetBaud(115200);  // only stored
  EXPECT_EQ(port.Baud(), 115200);
  EXPECT_FALSE(port.Open());
}

TEST(ScpComPortClosed, PortsThatDoNotExistGiveBadId) {
  TScpComPort port;
  EXPECT_EQ(ErrorCodeOf([&] { port.SetOpen(true); }), kScpErrBadId);  // COM 0

  platform::PortTable table;
  port.SetPortTable(&table);
  port.SetComNumber(7);  // empty slot
  EXPECT_EQ(port.ResolvedDevicePath(), "");
  EXPECT_THROW(port.SetOpen(true), EBadId);

  port.SetDevicePath("/dev/no-such-serial-port");
  EXPECT_EQ(ErrorCodeOf([&] { port.SetOpen(true); }), kScpErrBadId);
  EXPECT_FALSE(port.Open());

  // An existing file that is not a serial port.
  char name[] = "/tmp/scp-not-a-tty-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  port.SetDevicePath(name);
  EXPECT_EQ(ErrorCodeOf([&] { port.SetOpen(true); }), kScpErrBadId);
  ::close(fd);
  ::unlink(name);

  // The automatic opening reports the same.
  port.SetDevicePath("/dev/no-such-serial-port");
  EXPECT_EQ(ErrorCodeOf([&] { port.CharReady(); }), kScpErrBadId);
}

TEST(ScpComPortClosed, NumberResolvesThroughTheTableOrTheDefault) {
  TScpComPort port;
  port.SetComNumber(3);
  EXPECT_EQ(port.ResolvedDevicePath(), platform::DefaultDevicePath(3));
  platform::PortTable table;
  table.SetDevicePath(3, "/dev/ttyUSB0");
  port.SetPortTable(&table);
  EXPECT_EQ(port.ResolvedDevicePath(), "/dev/ttyUSB0");
  port.SetDevicePath("/dev/pts/99");
  EXPECT_EQ(port.ResolvedDevicePath(), "/dev/pts/99");
  port.SetComNumber(65);
  port.SetDevicePath("");
  EXPECT_EQ(port.ResolvedDevicePath(), "");
}

TEST_F(ScpComPortTest, OpensClosesAndOpensAgain) {
  OpenOn(port_, pty_);
  EXPECT_TRUE(port_.Open());
  EXPECT_FALSE(port_.PortLost());
  EXPECT_EQ(port_.OutBuffFree(), 4096);
  EXPECT_FALSE(port_.CTS());  // a pseudo-terminal has no modem lines
  port_.SetOpen(true);        // already open: nothing happens
  EXPECT_TRUE(port_.Open());
  port_.SetOpen(false);
  EXPECT_FALSE(port_.Open());
  port_.SetOpen(true);
  EXPECT_TRUE(port_.Open());
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 19200u);
}

TEST_F(ScpComPortTest, OpenSetsARawLineAndSettingsApplyWhileOpen) {
  OpenOn(port_, pty_);
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty_.SlaveFd(), &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
  EXPECT_NE(tio.c_cflag & CREAD, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  port_.SetStopBits(2);
  ASSERT_EQ(::tcgetattr(pty_.SlaveFd(), &tio), 0);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 19200u);  // the rate stays
  // A pseudo-terminal only carries 8-bit characters without parity: the
  // refusal is reported and the property keeps its value.
  EXPECT_THROW(port_.SetDataBits(7), EScpIOError);
  EXPECT_EQ(port_.DataBits(), 8);
  EXPECT_THROW(port_.SetParity(TScpParity::Even), EScpIOError);
  EXPECT_EQ(port_.Parity(), TScpParity::None);

  EXPECT_EQ(ErrorCodeOf([&] { port_.SetDataBits(9); }), kScpErrBadArgument);
  EXPECT_EQ(ErrorCodeOf([&] { port_.SetStopBits(3); }), kScpErrBadArgument);
  EXPECT_EQ(port_.StopBits(), 2);

  // A new output ring size counts from the next open.
  port_.SetOutSize(1000);
  EXPECT_EQ(port_.OutBuffFree(), 4096);
  port_.SetOpen(false);
  EXPECT_EQ(port_.OutBuffFree(), 1000);
  port_.SetOpen(true);
  EXPECT_EQ(port_.OutBuffFree(), 1000);
  const Bytes block(1001, 1);
  EXPECT_THROW(port_.PutBlock(block.data(), 1001), EOutputBufferTooSmall);
}

TEST_F(ScpComPortTest, RS485ModeOpensWithoutModemLines) {
  port_.SetRS485Mode(true);
  OpenOn(port_, pty_);
  EXPECT_TRUE(port_.RS485Mode());
  const Bytes out = TestPattern(300, 4);
  SendThroughPort(port_, out);
  EXPECT_EQ(pty_.Read(out.size()), out);
  port_.SetRS485Mode(false);
  EXPECT_FALSE(port_.CTS());
}

TEST_F(ScpComPortTest, APortHeldElsewhereIsAlreadyOpen) {
  const int other = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  const bool exclusive = ::ioctl(other, TIOCEXCL) == 0;
  port_.SetDevicePath(pty_.SlavePath());
  try {
    port_.SetOpen(true);
    ADD_FAILURE() << "opened a held port";
  } catch (const EAlreadyOpen& e) {
    EXPECT_EQ(e.ErrorCode(), -2008);
  }
  EXPECT_FALSE(port_.Open());
  // The refused open left the holder's settings alone.
  int stillExclusive = 0;
  if (exclusive && ::ioctl(other, TIOCGEXCL, &stillExclusive) == 0) {
    EXPECT_EQ(stillExclusive, 1);
  }
  ::ioctl(other, TIOCNXCL);
  ::close(other);
  port_.SetOpen(true);  // free again
  EXPECT_TRUE(port_.Open());

  // A second component on the same port.
  TScpComPort second;
  second.SetDevicePath(pty_.SlavePath());
  EXPECT_EQ(ErrorCodeOf([&] { second.SetOpen(true); }), kScpErrAlreadyOpen);
}

TEST_F(ScpComPortTest, GetCharOnAnEmptyRingRaises) {
  port_.SetDevicePath(pty_.SlavePath());
  // GetChar opens the closed port first, then finds nothing.
  try {
    port_.GetChar();
    ADD_FAILURE() << "GetChar returned a byte";
  } catch (const EBufferIsEmpty& e) {
    EXPECT_EQ(e.ErrorCode(), -3007);
  }
  EXPECT_TRUE(port_.Open());
  EXPECT_FALSE(port_.CharReady());
}

TEST_F(ScpComPortTest, BytesTravelBothWaysInOrder) {
  OpenOn(port_, pty_);
  const Bytes in = TestPattern(3000, 2);
  pty_.Write(in);
  EXPECT_EQ(ReceiveFromPort(port_, in.size()), in);
  EXPECT_FALSE(port_.CharReady());

  const Bytes out = TestPattern(2500, 3);
  ASSERT_EQ(port_.PutBlock(out.data(), static_cast<std::uint32_t>(out.size())), 0);
  EXPECT_EQ(pty_.Read(out.size()), out);

  // Bytes every value, including the frame markers, pass unchanged.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  pty_.Write(all);
  EXPECT_EQ(ReceiveFromPort(port_, all.size()), all);
  ASSERT_EQ(port_.PutBlock(all.data(), 256), 0);
  EXPECT_EQ(pty_.Read(all.size()), all);
}

TEST_F(ScpComPortTest, AFullOutputRingIsDrainedCompletely) {
  OpenOn(port_, pty_);
  const Bytes block = TestPattern(4096, 5);
  ASSERT_EQ(port_.PutBlock(block.data(), 4096), 0);
  EXPECT_EQ(pty_.Read(block.size()), block);

  // Far more than the system's queue takes at once, read back slowly.
  const Bytes big = TestPattern(200000, 6);
  std::thread radio([&] {
    Bytes got;
    while (got.size() < big.size()) {
      const Bytes part = pty_.Read(std::min<std::size_t>(997, big.size() - got.size()));
      if (part.empty()) break;
      got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
  });
  SendThroughPort(port_, big);
  radio.join();
  EXPECT_TRUE(port_.WaitCharReady(0) == false);
  for (int i = 0; i < 1000 && port_.OutBuffUsed() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(port_.OutBuffUsed(), 0);
  EXPECT_EQ(port_.OutBuffFree(), 4096);
}

TEST_F(ScpComPortTest, ATooLargeBlockLeavesTheRingUnchanged) {
  OpenOn(port_, pty_);
  Bytes tooBig(4097, 0x55);
  EXPECT_EQ(ErrorCodeOf([&] { port_.PutBlock(tooBig.data(), 4097); }), kScpErrOutputBufferTooSmall);

  Bytes expected = FillUntilHeld(port_, pty_);
  const std::uint16_t used = port_.OutBuffUsed();
  const std::uint16_t free = port_.OutBuffFree();
  ASSERT_GT(used, 0);
  ASSERT_EQ(used + free, 4096);
  const Bytes extra = TestPattern(free + 1u, 9);
  EXPECT_THROW(port_.PutBlock(extra.data(), free + 1u), EOutputBufferTooSmall);
  EXPECT_EQ(port_.OutBuffUsed(), used);
  // Exactly the free space still fits.
  ASSERT_EQ(port_.PutBlock(extra.data(), free), 0);
  expected.insert(expected.end(), extra.begin(), extra.begin() + free);
  EXPECT_EQ(port_.OutBuffFree(), 0);

  const Bytes got = pty_.Read(expected.size());
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);  // nothing of the refused block went out
}

TEST_F(ScpComPortTest, AFullReceiveRingHoldsBytesBackWithoutLoss) {
  OpenOn(port_, pty_);
  const Bytes in = TestPattern(30000, 7);  // more than the 8192-byte ring
  std::thread radio([&] { pty_.Write(in); });
  // Let the ring fill up before anything is taken out.
  while (!port_.WaitCharReady(5000)) {
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Bytes got = ReceiveFromPort(port_, in.size());
  radio.join();
  EXPECT_EQ(got.size(), in.size());
  EXPECT_TRUE(got == in);
}

TEST_F(ScpComPortTest, FlushesEmptyBothDirections) {
  OpenOn(port_, pty_);
  pty_.Write(TestPattern(100, 1));
  ASSERT_TRUE(port_.WaitCharReady(5000));
  port_.FlushInBuffer();
  EXPECT_FALSE(port_.CharReady());
  const Bytes after = {1, 2, 3};
  pty_.Write(after);
  EXPECT_EQ(ReceiveFromPort(port_, 3), after);

  FillUntilHeld(port_, pty_);
  ASSERT_GT(port_.OutBuffUsed(), 0);
  port_.FlushOutBuffer();
  EXPECT_EQ(port_.OutBuffUsed(), 0);
  EXPECT_EQ(port_.OutBuffFree(), 4096);
  pty_.ReadUntilSilent(200);  // whatever the system had already passed on
  const Bytes marker = TestPattern(500, 11);
  ASSERT_EQ(port_.PutBlock(marker.data(), 500), 0);
  EXPECT_EQ(pty_.Read(marker.size()), marker);
}

TEST_F(ScpComPortTest, NewComNumberReopensOnTheNewPort) {
  PseudoTerminal second;
  platform::PortTable table;
  table.SetDevicePath(1, pty_.SlavePath());
  table.SetDevicePath(2, second.SlavePath());
  port_.SetPortTable(&table);
  port_.SetComNumber(1);
  port_.SetOpen(true);
  const Bytes one = {0x11, 0x12};
  port_.PutBlock(one.data(), 2);
  EXPECT_EQ(pty_.Read(2), one);

  port_.SetComNumber(2);
  EXPECT_TRUE(port_.Open());
  const Bytes two = {0x21, 0x22, 0x23};
  port_.PutBlock(two.data(), 3);
  EXPECT_EQ(second.Read(3), two);
  second.Write({0x7E});
  EXPECT_EQ(ReceiveFromPort(port_, 1), Bytes{0x7E});
  // The first port is free again.
  TScpComPort other;
  other.SetDevicePath(pty_.SlavePath());
  EXPECT_NO_THROW(other.SetOpen(true));
}

TEST_F(ScpComPortTest, RateChangeLetsQueuedOutputOutFirst) {
  OpenOn(port_, pty_);
  const Bytes expected = FillUntilHeld(port_, pty_);
  ASSERT_GT(port_.OutBuffUsed(), 0);
  Bytes got;
  std::thread radio([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    got = pty_.Read(expected.size());
  });
  port_.SetBaud(115200);
  // The change waited for the ring to empty.
  EXPECT_EQ(port_.OutBuffUsed(), 0);
  radio.join();
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(port_.Baud(), 115200);
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 115200u);

  const Bytes after = TestPattern(100, 12);
  port_.PutBlock(after.data(), 100);
  EXPECT_EQ(pty_.Read(after.size()), after);
}

TEST_F(ScpComPortTest, SameRateDoesNothingOtherRatesApply) {
  OpenOn(port_, pty_);
  // Change the line behind the component's back: only a real change of rate
  // touches the line again.
  test::SetLineRate9600(pty_.SlaveFd());
  port_.SetBaud(19200);
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 9600u);

  port_.SetBaud(38400);
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 38400u);
  // Rates without a B-constant go through the arbitrary-rate interface.
  for (const std::int32_t rate : {14400, 56000, 128000, 256000}) {
    port_.SetBaud(rate);
    EXPECT_EQ(port_.Baud(), rate);
    EXPECT_EQ(test::LineRate(pty_.SlaveFd()), static_cast<std::uint32_t>(rate));
  }
  port_.SetBaud(9600);
  EXPECT_EQ(test::LineRate(pty_.SlaveFd()), 9600u);

  EXPECT_EQ(ErrorCodeOf([&] { port_.SetBaud(0); }), kScpErrBadArgument);
  EXPECT_EQ(ErrorCodeOf([&] { port_.SetBaud(-19200); }), kScpErrBadArgument);
  EXPECT_EQ(port_.Baud(), 9600);

  // The line still carries bytes after all the changes.
  const Bytes out = TestPattern(64, 13);
  port_.PutBlock(out.data(), 64);
  EXPECT_EQ(pty_.Read(out.size()), out);
}

TEST_F(ScpComPortTest, HangUpMarksThePortLostAndEndsWaits) {
  OpenOn(port_, pty_);
  pty_.Write({0xBA, 0x7F});
  ASSERT_TRUE(port_.WaitCharReady(5000));

  std::thread radio([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty_.CloseMaster();
  });
  // Drains the two bytes, then a long wait that the hang-up must end (the
  // test's own time limit catches a wait that does not end).
  EXPECT_EQ(port_.GetChar(), 0xBA);
  EXPECT_EQ(port_.GetChar(), 0x7F);
  EXPECT_FALSE(port_.WaitCharReady(60000));
  radio.join();
  EXPECT_TRUE(port_.PortLost());
  EXPECT_TRUE(port_.Open());
  EXPECT_FALSE(port_.WaitCharReady(60000));  // ends at once from now on

  const std::uint8_t byte = 1;
  EXPECT_EQ(ErrorCodeOf([&] { port_.PutBlock(&byte, 1); }), kScpErrPutBlockFail);
  EXPECT_EQ(port_.OutBuffUsed(), 0);
  port_.SetBaud(115200);  // stored; the line is gone
  EXPECT_EQ(port_.Baud(), 115200);
  port_.FlushInBuffer();
  port_.FlushOutBuffer();
  port_.SetOpen(false);
  EXPECT_FALSE(port_.PortLost());
}

TEST_F(ScpComPortTest, HangUpWithQueuedOutputFreesTheRing) {
  OpenOn(port_, pty_);
  FillUntilHeld(port_, pty_);
  pty_.CloseMaster();
  for (int i = 0; i < 2000 && !port_.PortLost(); ++i) port_.WaitCharReady(5);
  EXPECT_TRUE(port_.PortLost());
  // The output thread empties the ring once it sees the line gone; a wait on
  // a lost port ends at once, so the test sleeps between looks.
  for (int i = 0; i < 2000 && port_.OutBuffUsed() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(port_.OutBuffUsed(), 0);  // a close that waits for an empty ring ends
}

TEST(ScpComPortThreads, TwoPortsInTwoThreadsDoNotMix) {
  auto run = [](std::uint32_t seed, bool& ok) {
    PseudoTerminal pty;
    TScpComPort port;
    port.SetDevicePath(pty.SlavePath());
    port.SetOpen(true);
    port.SetBaud(seed % 2 ? 115200 : 57600);
    const Bytes in = TestPattern(40000, seed);
    const Bytes out = TestPattern(40000, seed + 100);
    Bytes gotOut;
    std::thread radioSends([&] { pty.Write(in); });
    std::thread radioReceives([&] { gotOut = pty.Read(out.size()); });
    SendThroughPort(port, out);
    const Bytes gotIn = ReceiveFromPort(port, in.size());
    radioSends.join();
    radioReceives.join();
    port.SetOpen(false);
    ok = gotIn == in && gotOut == out;
  };
  bool ok1 = false;
  bool ok2 = false;
  std::thread a(run, 21u, std::ref(ok1));
  std::thread b(run, 22u, std::ref(ok2));
  a.join();
  b.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

}  // namespace
}  // namespace bcu::link
