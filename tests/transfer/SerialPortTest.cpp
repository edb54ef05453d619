#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "transfer/VYXCommDeviceSerial.h"
#include "transfer/VYXWinExtSerialPort.h"

namespace bcu::transfer {
namespace {

// A pseudo-terminal pair: the port under test opens the slave by its path,
// the test plays the far end on the master.
class Pty {
 public:
  Pty() {
    int slave = -1;
    char name[128] = {};
    if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      path_ = name;
      ::close(slave);  // the port opens it by name
    }
  }
  ~Pty() { CloseMaster(); }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  void Send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::tcdrain(master_);
  }
  std::vector<std::uint8_t> ReceiveAvailable() {
    std::vector<std::uint8_t> out(4096);
    ::usleep(20000);
    int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    ssize_t n = ::read(master_, out.data(), out.size());
    ::fcntl(master_, F_SETFL, flags);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Waits (real time, bounded) until the port sees `n` bytes.
bool WaitForCount(VYXWinExtSerialPort& port, int n) {
  for (int i = 0; i < 200 && port.InputCount() < n; ++i) port.WaitForInput(10);
  return port.InputCount() >= n;
}

TEST(SerialPortSettings, BaudCodesAreStoredCanonically) {
  VYXWinExtSerialPort port;
  const std::pair<int, int> cases[] = {{0, 2}, {1, 2},   {3, 2},    {4, 2},   {5, 2},
                                       {2, 2}, {9, 8},   {18, 17},  {17, 17}, {21, 21},
                                       {6, 6}, {22, 22}, {200, 200}};
  for (auto [code, stored] : cases) {
    port.SetBaudRate(static_cast<std::uint8_t>(code));
    EXPECT_EQ(port.GetBaudRate(), stored) << "code " << code;
  }
  EXPECT_EQ(BaudCodeRate(2), 110u);
  EXPECT_EQ(BaudCodeRate(13), 14400u);
  EXPECT_EQ(BaudCodeRate(16), 56000u);
  EXPECT_EQ(BaudCodeRate(19), 115200u);
  EXPECT_EQ(BaudCodeRate(21), 256000u);
  EXPECT_EQ(BaudCodeRate(22), 0u);
}

TEST(SerialPortSettings, InitialValuesAndRefusedCombinationsWhileClosed) {
  VYXWinExtSerialPort port;
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetBaudRate(), 14);
  EXPECT_EQ(port.GetDataBits(), 3);
  EXPECT_EQ(port.GetParity(), 0);
  EXPECT_EQ(port.GetStopBits(), 0);
  EXPECT_EQ(port.GetFlowControl(), 0);
  EXPECT_EQ(port.GetErrorCode(), 0u);
  EXPECT_EQ(port.GetModemStatus(), 0u);
  // Eight data bits refuse one and a half stop bits; two are fine.
  port.SetStopBits(1);
  EXPECT_EQ(port.GetStopBits(), 0);
  port.SetStopBits(2);
  EXPECT_EQ(port.GetStopBits(), 2);
  // Five data bits refuse two stop bits (judged against the stored stop bits).
  port.SetDataBits(0);
  EXPECT_EQ(port.GetDataBits(), 3);
  port.SetStopBits(0);
  port.SetDataBits(0);
  EXPECT_EQ(port.GetDataBits(), 0);
  port.SetStopBits(1);  // 1.5 with five data bits is allowed
  EXPECT_EQ(port.GetStopBits(), 1);
  port.SetDataBits(3);  // and now eight data bits are refused
  EXPECT_EQ(port.GetDataBits(), 0);
}

TEST(SerialPortOpen, MissingDeviceFailsAndKeepsSettings) {
  VYXCommDeviceSerial dev;
  EXPECT_EQ(dev.deviceKind, 2);
  dev.Port().SetBaudRate(12);
  EXPECT_FALSE(dev.OpenPort(std::string("/dev/does-not-exist-bcu"), 19, true));
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.Port().GetBaudRate(), 12);
  EXPECT_FALSE(dev.Handshake());
  EXPECT_FALSE(dev.HasInput());
  // A number without a device in the table does not open either.
  platform::PortTable table;
  VYXCommDeviceSerial viaTable(&table);
  EXPECT_FALSE(viaTable.OpenPort(3, 14, false));
  EXPECT_FALSE(viaTable.IsOpen());
  // Nor does a plain file: it is not a port.
  char tmpl[] = "/tmp/bcu-notatty-XXXXXX";
  int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(dev.OpenPort(std::string(tmpl), 14, false));
  ::unlink(tmpl);
}

TEST(SerialPortOpen, OpensThroughThePortTableWithTheLinkSettings) {
  Pty pty;
  ASSERT_FALSE(pty.Path().empty());
  platform::PortTable table;
  table.SetDevicePath(5, pty.Path());
  VYXCommDeviceSerial dev(&table);
  ASSERT_TRUE(dev.OpenPort(5, 19, false));
  EXPECT_TRUE(dev.IsOpen());
  auto& port = dev.Port();
  EXPECT_EQ(port.GetPortName(), pty.Path());
  EXPECT_EQ(port.Dcb().BaudRate, 115200u);
  EXPECT_EQ(port.Dcb().ByteSize, 8);
  EXPECT_EQ(port.Dcb().StopBits, kOneStopBit);
  EXPECT_FALSE(port.Dcb().fParity);
  EXPECT_TRUE(port.Dcb().fBinary);
  EXPECT_EQ(port.Timeouts().ReadIntervalTimeout, 2000u);
  EXPECT_EQ(port.Timeouts().WriteTotalTimeoutMultiplier, 2000u);
  termios tio{};
  ASSERT_EQ(::tcgetattr(static_cast<int>(port.Descriptor()), &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw
  // A pseudo-terminal has no modem lines: status 0, and the open stood.
  EXPECT_EQ(port.GetModemStatus(), 0u);
  dev.SetHandshake(true);
  EXPECT_EQ(port.GetFlowControl(), kFlowCtsRtsToggle);
  EXPECT_TRUE(port.Dcb().fOutxCtsFlow);
  EXPECT_EQ(port.Dcb().fRtsControl, kRtsControlToggle);
  dev.SetHandshake(false);
  EXPECT_EQ(port.Dcb().fRtsControl, kRtsControlDisable);
  EXPECT_FALSE(port.Dcb().fOutxCtsFlow);
}

TEST(SerialPortOpen, SecondOpenOfAHeldPortFails) {
  Pty pty;
  VYXCommDeviceSerial first;
  ASSERT_TRUE(first.OpenPort(pty.Path(), 14, false));
  VYXCommDeviceSerial second;
  EXPECT_FALSE(second.OpenPort(pty.Path(), 14, false));
  int err = 0;
  EXPECT_LT(platform::SerialOpenExclusive(pty.Path(), err), 0);
  EXPECT_EQ(err, EBUSY);
  first.Close();
  EXPECT_FALSE(first.IsOpen());
  EXPECT_TRUE(second.OpenPort(pty.Path(), 14, false));
}

TEST(SerialPortOpen, DestroyingAnOpenDeviceReleasesThePort) {
  Pty pty;
  {
    VYXCommDeviceSerial dev;
    ASSERT_TRUE(dev.OpenPort(pty.Path(), 14, false));
  }
  VYXCommDeviceSerial again;
  EXPECT_TRUE(again.OpenPort(pty.Path(), 14, false));
}

TEST(SerialPortSettings, SettingsWhileOpenChangeTheLine) {
  Pty pty;
  VYXWinExtSerialPort port;
  port.SetBaudRate(9);  // stored as 8: 1,200 baud at open
  EXPECT_EQ(port.GetBaudRate(), 8);
  port.SetPortName(pty.Path());
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.Open());  // idempotent
  EXPECT_EQ(port.Dcb().BaudRate, 1200u);
  termios tio{};
  ::tcgetattr(static_cast<int>(port.Descriptor()), &tio);
  EXPECT_EQ(::cfgetospeed(&tio), B1200);
  // 1.5 stop bits refused with eight data bits: code and line unchanged.
  port.SetStopBits(1);
  EXPECT_EQ(port.GetStopBits(), 0);
  EXPECT_EQ(port.Dcb().StopBits, kOneStopBit);
  port.SetStopBits(2);
  EXPECT_EQ(port.Dcb().StopBits, kTwoStopBits);
  ::tcgetattr(static_cast<int>(port.Descriptor()), &tio);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  // Parity: odd, then a code above 4 that is written as it stands.
  // (A pseudo-terminal keeps no parity bits, so only the configuration is checked.)
  port.SetParity(1);
  EXPECT_TRUE(port.Dcb().fParity);
  EXPECT_EQ(port.Dcb().Parity, 1);
  port.SetParity(7);
  EXPECT_EQ(port.Dcb().Parity, 7);
  EXPECT_TRUE(port.Dcb().fParity);
  port.SetParity(0);
  EXPECT_FALSE(port.Dcb().fParity);
  // A code above 21 is stored and leaves the rate alone.
  port.SetBaudRate(30);
  EXPECT_EQ(port.GetBaudRate(), 30);
  EXPECT_EQ(port.Dcb().BaudRate, 1200u);
  // Flow control: software, then an unknown code that applies nothing.
  port.SetFlowControl(kFlowSoftware);
  EXPECT_TRUE(port.Dcb().fOutX && port.Dcb().fInX);
  port.SetFlowControl(9);
  EXPECT_EQ(port.GetFlowControl(), 9);
  EXPECT_TRUE(port.Dcb().fOutX);
  port.SetFlowControl(kFlowHardware);
  EXPECT_EQ(port.Dcb().fRtsControl, kRtsControlHandshake);
  ::tcgetattr(static_cast<int>(port.Descriptor()), &tio);
  EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
  // Closed again: settings stay, next open applies them.
  EXPECT_EQ(port.Close(), 1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetStopBits(), 2);
}

TEST(SerialPortIo, ReadWithNothingWaitingReturnsZeroAndReadsWhatCame) {
  Pty pty;
  VYXCommDeviceSerial dev;
  std::uint8_t buf[16] = {};
  EXPECT_EQ(dev.Read(buf, 4), 0);  // closed
  ASSERT_TRUE(dev.OpenPort(pty.Path(), 14, false));
  EXPECT_EQ(dev.Read(buf, 4), 0);
  EXPECT_EQ(dev.ErrorCode(), 0u);
  EXPECT_FALSE(dev.HasInput());
  EXPECT_FALSE(dev.WaitForInput(5));
  pty.Send({0x11, 0x22, 0x33});
  ASSERT_TRUE(WaitForCount(dev.Port(), 3));
  EXPECT_TRUE(dev.HasInput());
  std::uint8_t b = 0;
  EXPECT_EQ(dev.ReadByte(&b), 1);
  EXPECT_EQ(b, 0x11);
  EXPECT_EQ(dev.Read(buf, 2), 2);
  EXPECT_EQ(buf[0], 0x22);
  EXPECT_EQ(buf[1], 0x33);
  EXPECT_FALSE(dev.HasInput());
}

TEST(SerialPortIo, WriteReachesTheFarEndWhole) {
  Pty pty;
  VYXCommDeviceSerial dev;
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(dev.Write(data.data(), 300), 0);  // closed
  ASSERT_TRUE(dev.OpenPort(pty.Path(), 14, false));
  EXPECT_EQ(dev.Write(data.data(), 300), 300);
  EXPECT_EQ(pty.ReceiveAvailable(), data);
  // The raw line passes every byte value unchanged (no CR/LF mapping).
  EXPECT_TRUE(dev.Port().WriteChar('\n'));
  EXPECT_EQ(pty.ReceiveAvailable(), std::vector<std::uint8_t>{0x0A});
}

TEST(SerialPortIo, WriteToALineNobodyReadsGivesUpWithTheWriteError) {
  Pty pty;  // the master never reads: the line fills and stays full
  VYXWinExtSerialPort port;
  port.SetPortName(pty.Path());
  ASSERT_TRUE(port.Open());
  port.SetTimeouts(0, 100);
  std::vector<std::uint8_t> big(1 << 20, 0x55);
  EXPECT_EQ(port.Write(big.data(), static_cast<std::int32_t>(big.size())), -1);
  EXPECT_EQ(port.GetErrorCode(), kSerialErrWrite);
  EXPECT_FALSE(port.Lost());
  EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortIo, ReadLineStopsAtLineFeedWaitingCountOrSize) {
  Pty pty;
  VYXWinExtSerialPort port;
  port.SetPortName(pty.Path());
  char buf[16];
  ASSERT_TRUE(port.Open());
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(port.ReadLine(buf, 16), 0);  // nothing waiting
  pty.Send({'a', 'b', '\n', 'c', 'd', 'e', 'f'});
  ASSERT_TRUE(WaitForCount(port, 7));
  // Size 1 reads nothing and still ends the buffer.
  EXPECT_EQ(port.ReadLine(buf, 1), 1);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(port.ReadLine(buf, 0), 0);  // no room at all: untouched
  EXPECT_EQ(port.ReadLine(buf, 16), 4);
  EXPECT_STREQ(buf, "ab\n");
  EXPECT_EQ(port.ReadLine(buf, 3), 3);  // size - 1 bytes
  EXPECT_STREQ(buf, "cd");
  EXPECT_EQ(port.ReadLine(buf, 16), 3);  // the bytes that were waiting
  EXPECT_STREQ(buf, "ef");
}

TEST(SerialPortIo, ClosingTheFarEndIsSeenAsTheDeviceGone) {
  Pty pty;
  VYXCommDeviceSerial dev;
  ASSERT_TRUE(dev.OpenPort(pty.Path(), 14, false));
  EXPECT_FALSE(dev.Lost());
  pty.CloseMaster();
  EXPECT_FALSE(dev.WaitForInput(1000));
  EXPECT_TRUE(dev.Lost());
  EXPECT_TRUE(dev.IsOpen());
  // Writing to a device that is gone fails with the write error.
  std::uint8_t out[3] = {1, 2, 3};
  EXPECT_EQ(dev.Write(out, 3), -1);
  EXPECT_EQ(dev.ErrorCode(), 14u);
  EXPECT_EQ(dev.Close(), 1);
  EXPECT_FALSE(dev.IsOpen());
}

TEST(SerialPortIo, ErrorFlagsAreRecordedInTheirOrder) {
  VYXWinExtSerialPort port;
  port.SetErrorFromFlags(0);
  EXPECT_EQ(port.GetErrorCode(), 0u);
  port.SetErrorFromFlags(platform::kCeMode | platform::kCeOverrun);
  EXPECT_EQ(port.GetErrorCode(), 1u);
  port.SetErrorFromFlags(platform::kCeFrame | platform::kCeBreak);
  EXPECT_EQ(port.GetErrorCode(), 6u);
  port.SetErrorFromFlags(platform::kCeTxFull | platform::kCeRxOver);
  EXPECT_EQ(port.GetErrorCode(), 10u);
  port.SetErrorFromFlags(platform::kCeRxParity | platform::kCeRxOver);
  EXPECT_EQ(port.GetErrorCode(), 11u);
  port.SetErrorFromFlags(platform::kCeIoe | platform::kCeMode);
  EXPECT_EQ(port.GetErrorCode(), 8u);
  port.SetErrorFromFlags(0);
  EXPECT_EQ(port.GetErrorCode(), 8u);  // unchanged
  EXPECT_EQ(port.PollInput(), 0);      // closed
}

TEST(SerialCommDevice, BaseDeviceCanDoNothing) {
  VYXCommDevice base;
  std::uint8_t b = 0;
  EXPECT_EQ(base.deviceKind, 0);
  EXPECT_EQ(base.Open(), -1);
  EXPECT_EQ(base.Close(), -1);
  EXPECT_FALSE(base.IsOpen());
  EXPECT_FALSE(base.HasInput());
  EXPECT_EQ(base.ReadByte(&b), -1);
  EXPECT_EQ(base.Read(&b, 1), -1);
  EXPECT_EQ(base.Write(&b, 1), -1);
  EXPECT_EQ(base.ErrorCode(), 0u);
}

}  // namespace
}  // namespace bcu::transfer
