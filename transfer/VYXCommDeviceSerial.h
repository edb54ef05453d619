#pragma once
// The communication device over a serial port: owns a VYXWinExtSerialPort and
// opens it by port number with the link's line settings (8 data bits, no
// parity, one stop bit, 2 s time-outs).
#include <cstdint>
#include <memory>
#include <string>

#include "transfer/VYXCommDevice.h"
#include "transfer/VYXWinExtSerialPort.h"

namespace bcu::platform {
class PortTable;
class SerialDriver;
}  // namespace bcu::platform

namespace bcu::transfer {

class VYXCommDeviceSerial : public VYXCommDevice {
 public:
  // `ports` resolves port numbers to device paths (not owned); null: port n
  // is platform::DefaultDevicePath(n). `driver` makes the port's kernel
  // calls (not owned); null: the system's.
  explicit VYXCommDeviceSerial(const platform::PortTable* ports = nullptr,
                               platform::SerialDriver* driver = nullptr);
  // The same over a port made elsewhere (a line to a radio in this process).
  VYXCommDeviceSerial(const platform::PortTable* ports, std::unique_ptr<VYXWinExtSerialPort> port);
  ~VYXCommDeviceSerial() override;

  int Open() override;
  int Close() override;
  bool IsOpen() override;
  bool HasInput() override;
  int ReadByte(std::uint8_t* byte) override;
  std::int32_t Read(std::uint8_t* buffer, std::int32_t n) override;
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t n) override;
  std::uint32_t ErrorCode() override;

  // Opens port `comNumber` (1..64) with the given baud code and handshake.
  bool OpenPort(int comNumber, std::uint8_t baudCode, bool handshake);
  // The same on a device path (a pseudo-terminal, an adapter's own name).
  bool OpenPort(const std::string& devicePath, std::uint8_t baudCode, bool handshake);
  void SetBaud(std::uint8_t baudCode);
  // Flow control code 3 (CTS with RTS toggle) when on, 0 when off.
  void SetHandshake(bool on);
  bool Handshake() const { return handshake; }

  // Blocks up to `realMs` for received bytes; true when some are waiting.
  // What the wait finds is read at once, without asking for a count first.
  bool WaitForInput(std::uint32_t realMs);
  // Bytes already read from the port and not handed out yet (no system call).
  bool Buffered() const { return aheadPos_ < aheadEnd_; }
  // The device went away while open (unplugged, hang-up, I/O error).
  bool Lost() const;

  VYXWinExtSerialPort& Port() { return *port; }

 private:
  // Takes every byte waiting into the read-ahead; false when none came.
  bool FillAhead();

  std::unique_ptr<VYXWinExtSerialPort> port;
  bool handshake = false;
  // Bytes taken from the port in one read and handed out one at a time, so
  // that a byte-at-a-time reader costs one system call per burst, not per byte.
  std::uint8_t ahead_[4096] = {};
  std::int32_t aheadPos_ = 0;
  std::int32_t aheadEnd_ = 0;
  const platform::PortTable* ports_;
};

}  // namespace bcu::transfer
