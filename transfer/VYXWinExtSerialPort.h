#pragma once
// The serial port over the system's serial port (platform/SerialPort.h),
// with synchronous I/O.
//
// The port keeps a copy of the device's line configuration in the shape the
// setters speak (SerialDcb): Open reads the device's settings into it, every
// setter changes one field and writes the whole configuration back.
//
// The modem lines follow the configuration: DTR is on while the port is
// open; RTS is off for flow control "none" and "software", on for
// "hardware" (the handshake then drives it), and for "CTS with RTS toggle"
// raised only while a write goes out (by the driver's RS-485 switching where
// it has one, else around each write). The kernel raises both at open; they
// are driven to these states before anything is sent.
//
// Every call a test may need to answer differently goes through a
// platform::SerialDriver (the system's by default).
#include <cstdint>
#include <string>

#include "platform/SerialDriver.h"
#include "platform/SerialLockFile.h"
#include "platform/SerialPort.h"
#include "transfer/VYXWinExtSerialBase.h"

namespace bcu::transfer {

inline constexpr std::uint8_t kOneStopBit = platform::kOneStopBit;
inline constexpr std::uint8_t kOne5StopBits = platform::kOne5StopBits;
inline constexpr std::uint8_t kTwoStopBits = platform::kTwoStopBits;

inline constexpr std::uint8_t kRtsControlDisable = platform::kRtsControlDisable;
inline constexpr std::uint8_t kRtsControlEnable = platform::kRtsControlEnable;
inline constexpr std::uint8_t kRtsControlHandshake = platform::kRtsControlHandshake;
inline constexpr std::uint8_t kRtsControlToggle = platform::kRtsControlToggle;

inline constexpr std::uint8_t kDtrControlDisable = platform::kDtrControlDisable;
inline constexpr std::uint8_t kDtrControlEnable = platform::kDtrControlEnable;

// The line configuration of an open port.
using SerialDcb = platform::SerialLineConfig;

// Read and write time-outs in milliseconds, as SetTimeouts writes them.
struct SerialTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
};

class VYXWinExtSerialPort : public VYXWinExtSerialBase {
 public:
  VYXWinExtSerialPort() = default;
  ~VYXWinExtSerialPort() override;

  // The kernel calls go through `driver` (not owned; null: the system's).
  // Takes effect at the next open.
  void SetDriver(platform::SerialDriver* driver);

  void SetBaudRate(std::uint8_t code) override;
  void SetDataBits(std::uint8_t code) override;
  void SetParity(std::uint8_t code) override;
  void SetStopBits(std::uint8_t code) override;
  void SetFlowControl(std::uint8_t code) override;
  void SetTimeouts(std::int32_t seconds, std::int32_t milliseconds) override;
  bool Open() override;
  // Output that could not be sent (a drain that gave up) is discarded first,
  // so that closing never waits for the driver's closing time.
  int Close() override;
  // Waits, bounded, until every byte written has left.
  void Flush() override;
  std::int32_t InputCount() override;
  std::int32_t PollInput() override;
  bool ReadChar(char* c) override;
  bool WriteChar(char c) override;
  void NoOperation() override {}
  void SetErrorFromFlags(std::uint32_t flags) override;
  void SetDtr(bool on) override;
  void SetRts(bool on) override;
  std::uint32_t GetModemStatus() override;
  std::int32_t Read(std::uint8_t* buffer, std::int32_t n) override;
  std::int32_t Write(const std::uint8_t* buffer, std::int32_t n) override;

  // Blocks up to `realMs` for received bytes; true when some are waiting.
  virtual bool WaitForInput(std::uint32_t realMs);
  // Blocks up to `realMs` on the port itself, without reading: what the
  // system's wait saw.
  virtual platform::SerialWait WaitReadable(std::uint32_t realMs);
  // One read of what is waiting, without any wait: the bytes read, 0 when
  // none were there, -1 when the device is gone (closed port: 0).
  virtual std::int32_t ReadNow(std::uint8_t* buffer, std::int32_t n);
  // The device went away while open (unplugged, hang-up, I/O error).
  virtual bool Lost() const { return lost_; }
  // The configuration as last written (valid while open).
  const SerialDcb& Dcb() const { return dcb_; }
  const SerialTimeouts& Timeouts() const { return timeouts_; }
  // The open port, platform::kNoSerialHandle when closed.
  platform::SerialHandle Descriptor() const { return fd_; }
  // The driver switches RS-485 direction itself (flow control 3 accepted).
  bool KernelRs485() const { return rs485Set_; }
  // What the driver was found to support when the port opened.
  const platform::SerialCapabilities& Capabilities() const { return caps_; }
  // Real microseconds until the bytes written so far have left the line, by
  // their line time at the current rate (0 once they have).
  std::uint64_t LineBusyUs() const;
  // Whether the driver would switch RS-485 itself (asked on the open port).
  virtual bool KernelRs485Available();
  // The UUCP lock file held while open (empty when none could be written).
  const std::string& LockFilePath() const { return lock_.Path(); }
  // Why the last Open failed, in the system's words ("No such file or
  // directory", "held by process 812 (its lock file ...)"); empty after a
  // good one.
  const std::string& OpenErrorText() const { return openError_; }

  // Longest wait for the output to drain beyond the time the bytes need on
  // the line: a hung adapter fails the write after this.
  static constexpr std::uint32_t kDrainSlackMs = 250;
  // Longest wait for room in the output queue without any byte accepted.
  static constexpr std::uint32_t kWriteStallMs = 2000;

  // Write hands the bytes to the driver and returns; the line is drained only
  // where it must be empty: before RTS drops after a write (flow control 3
  // without the driver's RS-485 switching), before the rate changes, on Flush
  // and at close.

 private:
  // Writes the whole configuration to the device (SetCommConfig).
  void WriteConfig();
  // Reads the device's current settings into dcb_ (GetCommState).
  void ReadConfig();
  // Reads at most n bytes that are already waiting; -1 when the device failed.
  std::int32_t ReadWaiting(std::uint8_t* buffer, std::int32_t n);
  // Line time of n bytes at the current rate, in milliseconds and in
  // microseconds.
  std::uint32_t LineTimeMs(std::int32_t n) const;
  std::uint64_t LineTimeUs(std::int32_t n) const;
  // Waits, bounded, for the last `n` bytes written to leave; records a
  // drain that gave up.
  bool Drain(std::int32_t n);
  // Drives DTR and RTS to what the configuration says (idle state).
  void DriveModemLines();
  // RTS raised only around writes, by this port (flow control 3 without the
  // driver's RS-485 switching).
  bool RtsAroundWrites() const;

  platform::SerialDriver& Driver() const;

  platform::SerialHandle fd_ = platform::kNoSerialHandle;
  platform::SerialDriver* driver_ = nullptr;
  platform::SerialLockFile lock_;
  std::string openError_;
  platform::SerialRs485 savedRs485_{};
  int rtsDriven_ = -1;  // RTS as last driven: -1 unknown, 0 off, 1 on
  int dtrDriven_ = -1;
  bool drainFailed_ = false;      // the last drain gave up with bytes still queued
  bool unsent_ = false;           // bytes were written since the last drain
  std::uint64_t lineFreeUs_ = 0;  // when the bytes written are off the line (line time)
  platform::SerialCapabilities caps_;
  SerialDcb dcb_;
  SerialTimeouts timeouts_;
  bool lowLatencyChanged_ = false;
  bool lowLatencyBefore_ = false;
  bool rs485Set_ = false;
  bool lost_ = false;
  // A byte taken while checking whether a readable device is still there.
  bool heldValid_ = false;
  std::uint8_t held_ = 0;
  platform::SerialErrorCounters counters_;
  bool countersSupported_ = true;  // false once the driver refused them
};

}  // namespace bcu::transfer
