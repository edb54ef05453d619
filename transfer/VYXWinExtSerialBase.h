#pragma once
// The abstract serial port: keeps the line settings as small codes (baud,
// data bits, parity, stop bits, flow control, time-outs, last error) and
// defines the full port interface. Settings are kept while the port is closed;
// opening applies them all.
#include <cstdint>
#include <string>

namespace bcu::transfer {

// Baud codes (SetBaudRate). Codes 0..5 mean 110 baud, 8 and 9 mean 1,200,
// 17 and 18 mean 57,600; the canonical form of each is stored.
inline constexpr std::uint8_t kBaud110 = 2;
inline constexpr std::uint8_t kBaud300 = 6;
inline constexpr std::uint8_t kBaud600 = 7;
inline constexpr std::uint8_t kBaud1200 = 8;
inline constexpr std::uint8_t kBaud2400 = 10;
inline constexpr std::uint8_t kBaud4800 = 11;
inline constexpr std::uint8_t kBaud9600 = 12;
inline constexpr std::uint8_t kBaud14400 = 13;
inline constexpr std::uint8_t kBaud19200 = 14;
inline constexpr std::uint8_t kBaud38400 = 15;
inline constexpr std::uint8_t kBaud56000 = 16;
inline constexpr std::uint8_t kBaud57600 = 17;
inline constexpr std::uint8_t kBaud115200 = 19;
inline constexpr std::uint8_t kBaud128000 = 20;
inline constexpr std::uint8_t kBaud256000 = 21;

// The rate of a baud code, 0 for a code above 21.
std::uint32_t BaudCodeRate(std::uint8_t code);
// The stored form of a baud code.
std::uint8_t CanonicalBaudCode(std::uint8_t code);

// Flow control codes (SetFlowControl).
inline constexpr std::uint8_t kFlowNone = 0;
inline constexpr std::uint8_t kFlowHardware = 1;
inline constexpr std::uint8_t kFlowSoftware = 2;
inline constexpr std::uint8_t kFlowCtsRtsToggle = 3;

// Error codes (GetErrorCode).
inline constexpr std::uint32_t kSerialErrMode = 1;
inline constexpr std::uint32_t kSerialErrBreak = 6;
inline constexpr std::uint32_t kSerialErrFrame = 7;
inline constexpr std::uint32_t kSerialErrIoe = 8;
inline constexpr std::uint32_t kSerialErrOverrun = 9;
inline constexpr std::uint32_t kSerialErrRxOver = 10;
inline constexpr std::uint32_t kSerialErrRxParity = 11;
inline constexpr std::uint32_t kSerialErrTxFull = 12;
inline constexpr std::uint32_t kSerialErrRead = 13;
inline constexpr std::uint32_t kSerialErrWrite = 14;

// Modem status bits (GetModemStatus).
inline constexpr std::uint32_t kModemCts = 1;
inline constexpr std::uint32_t kModemDsr = 2;
inline constexpr std::uint32_t kModemRlsd = 4;
inline constexpr std::uint32_t kModemRing = 8;

class VYXWinExtSerialBase {
 public:
  VYXWinExtSerialBase();
  virtual ~VYXWinExtSerialBase() = default;
  VYXWinExtSerialBase(const VYXWinExtSerialBase&) = delete;
  VYXWinExtSerialBase& operator=(const VYXWinExtSerialBase&) = delete;

  virtual void InitSettings();
  virtual void SetPortName(const std::string& name) { portName = name; }
  virtual std::string GetPortName() { return portName; }
  virtual void SetBaudRate(std::uint8_t code) = 0;
  virtual std::uint8_t GetBaudRate() { return baudCode; }
  virtual void SetDataBits(std::uint8_t code) = 0;
  virtual std::uint8_t GetDataBits() { return dataBitsCode; }
  virtual void SetParity(std::uint8_t code) = 0;
  virtual std::uint8_t GetParity() { return parityCode; }
  virtual void SetStopBits(std::uint8_t code) = 0;
  virtual std::uint8_t GetStopBits() { return stopBitsCode; }
  virtual void SetFlowControl(std::uint8_t code) = 0;
  virtual std::uint8_t GetFlowControl() { return flowControlCode; }
  virtual void SetTimeouts(std::int32_t seconds, std::int32_t milliseconds) = 0;
  virtual bool Open() = 0;
  virtual bool IsOpen() { return isOpen; }
  virtual int Close() = 0;
  virtual void Flush() = 0;
  virtual std::int32_t InputCount() = 0;
  // Bytes waiting, or -1.
  virtual std::int32_t PollInput() = 0;
  virtual bool HasInput() { return InputCount() != 0; }
  virtual bool ReadChar(char* c) = 0;
  virtual bool WriteChar(char c) = 0;
  virtual void NoOperation() = 0;
  // Reads up to a line feed (kept), the bytes waiting or size - 1 bytes,
  // whichever comes first, and ends them with a zero byte. Returns the bytes
  // read plus one, or 0 when nothing was waiting.
  virtual std::int32_t ReadLine(char* buffer, std::int32_t size);
  virtual std::uint32_t GetErrorCode() { return errorCode; }
  virtual void SetErrorFromFlags(std::uint32_t flags) = 0;
  virtual void SetDtr(bool on) = 0;
  virtual void SetRts(bool on) = 0;
  virtual std::uint32_t GetModemStatus() = 0;
  virtual std::int32_t Read(std::uint8_t* buffer, std::int32_t n) = 0;
  virtual std::int32_t Write(const std::uint8_t* buffer, std::int32_t n) = 0;

 protected:
  // Shared by the setters: the data bits / stop bits combinations a port
  // cannot use (five data bits with two stop bits, six to eight with one and
  // a half).
  static bool LineCombinationRefused(std::uint8_t dataBitsCode, std::uint8_t stopBitsCode);

  std::string portName;
  bool isOpen = false;
  std::uint8_t baudCode = kBaud19200;
  std::uint8_t dataBitsCode = 3;
  std::uint8_t parityCode = 0;
  std::uint8_t stopBitsCode = 0;
  std::uint8_t flowControlCode = kFlowNone;
  std::int32_t timeoutSeconds = 0;
  std::int32_t timeoutMilliseconds = 500;
  std::uint32_t errorCode = 0;
};

}  // namespace bcu::transfer
