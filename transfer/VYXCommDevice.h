#pragma once
// The communication device the radio link sees: open, close, poll for input,
// read, write. The base answers every call as a device that cannot do
// anything; VYXCommDeviceSerial is the device over a serial port.
#include <cstdint>

namespace bcu::transfer {

class VYXCommDevice {
 public:
  VYXCommDevice() = default;
  virtual ~VYXCommDevice() = default;
  VYXCommDevice(const VYXCommDevice&) = delete;
  VYXCommDevice& operator=(const VYXCommDevice&) = delete;

  // 1 opened, -1 failed.
  virtual int Open() { return -1; }
  virtual int Close() { return -1; }
  virtual bool IsOpen() { return false; }
  // Received bytes are waiting.
  virtual bool HasInput() { return false; }
  // Bytes read (1), or -1.
  virtual int ReadByte(std::uint8_t* byte) {
    (void)byte;
    return -1;
  }
  virtual std::int32_t Read(std::uint8_t* buffer, std::int32_t n) {
    (void)buffer;
    (void)n;
    return -1;
  }
  virtual std::int32_t Write(const std::uint8_t* buffer, std::int32_t n) {
    (void)buffer;
    (void)n;
    return -1;
  }
  virtual std::uint32_t ErrorCode() { return 0; }

  // 0 for this base, 2 for the serial device.
  std::uint8_t deviceKind = 0;
};

}  // namespace bcu::transfer
