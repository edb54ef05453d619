#pragma once
// A serial port as both transports (the serial device classes and the serial
// port component) use it: exclusive open by name, line settings, reads that
// never block and waits for input or room that are bounded, queue counts,
// line errors and device-gone detection. The calls a test may need to answer
// differently (drain, modem lines, RS-485, low latency, close) are in
// platform/SerialDriver.h.
//
// On Linux a port is a terminal device; on Windows a COM port ("COM5" or
// "\\.\COM12"; a bare "COMn" gets the device prefix). Every call works on a
// port the caller owns; what the calls keep between them (Windows: the read
// in progress and what it brought) lives with the handle.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SerialHandle.h"
#include "platform/SerialLockFile.h"

namespace bcu::platform {

// Opens the port for reading and writing without blocking, and takes it for
// this process alone: on Linux an advisory lock (flock, so that even a second
// program running as root is kept out), the UUCP lock file in `lockFolder`
// (honoured always; taken into `lock` when one is given) and the terminal's
// exclusive mode; on Windows the exclusive open itself. Returns the port, or
// kNoSerialHandle with `errorNumber` set: EBUSY when another program holds
// the port, ENOTTY when the name is not a serial port, ENOENT when there is
// none, EACCES when the user may not open it, else the system's error (EIO
// where it has no errno). `systemText`, when given, receives the system's own
// words for the failure. A port that another program holds is not touched
// beyond the open and the lock test.
SerialHandle SerialOpenExclusive(const std::string& path, int& errorNumber,
                                 SerialLockFile* lock = nullptr,
                                 const std::string& lockFolder = kSerialLockFolder,
                                 std::string* systemText = nullptr);
// Ends the exclusive mode (before the port is closed through its driver).
void SerialLeaveExclusive(SerialHandle port);
// Leaves exclusive mode and closes.
void SerialClose(SerialHandle port);

// Line settings, in the shape of a Windows DCB.
inline constexpr std::uint8_t kOneStopBit = 0;
inline constexpr std::uint8_t kOne5StopBits = 1;
inline constexpr std::uint8_t kTwoStopBits = 2;

inline constexpr std::uint8_t kRtsControlDisable = 0;
inline constexpr std::uint8_t kRtsControlEnable = 1;
inline constexpr std::uint8_t kRtsControlHandshake = 2;
inline constexpr std::uint8_t kRtsControlToggle = 3;

inline constexpr std::uint8_t kDtrControlDisable = 0;
inline constexpr std::uint8_t kDtrControlEnable = 1;

struct SerialLineConfig {
  std::uint32_t BaudRate = 19200;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = kOneStopBit;
  bool fBinary = true;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  std::uint8_t fRtsControl = kRtsControlDisable;
  std::uint8_t fDtrControl = kDtrControlEnable;
  bool fOutX = false;
  bool fInX = false;
  bool fAbortOnError = false;
  bool fNull = false;
};

// The port's present settings (framing, parity, flow control; the rate is
// left as given).
bool SerialReadLine(SerialHandle port, SerialLineConfig& line);

enum class SerialLineScope {
  // Everything: no character processing (received bytes reach the reader at
  // once, reads of an empty live port fail with EAGAIN and return 0 bytes
  // only for a device that is gone), modem control lines ignored for the
  // open, and flow control as `line` says.
  Whole,
  // Only rate, data bits, parity and stop bits; the rest stays as it is.
  Framing,
};
// Writes the settings to the port. Any rate is taken where the driver allows
// (rates without a standard constant through the system's arbitrary-rate
// interface). 0, or the system's error number of the call that failed.
int SerialWriteLine(SerialHandle port, const SerialLineConfig& line, SerialLineScope scope);

// Bytes waiting in the input queue, or -1.
int SerialInputCount(SerialHandle port);

// Reads what is waiting, without waiting: the bytes read; 0 when the device
// is gone; -1 with errno EAGAIN when nothing is waiting (EINTR: try again;
// any other errno: the device failed).
std::ptrdiff_t SerialRead(SerialHandle port, void* buffer, std::size_t n);

// Wakes a wait on a port from another thread.
class SerialWakeup {
 public:
  SerialWakeup();
  ~SerialWakeup();
  SerialWakeup(const SerialWakeup&) = delete;
  SerialWakeup& operator=(const SerialWakeup&) = delete;
  // Makes the wake-up; false with the system's error number otherwise.
  bool Open(int& errorNumber);
  void Close();
  bool IsOpen() const { return native_ != kNoSerialHandle; }
  // Ends the wait in progress, or the next one.
  void Wake();
  // Takes back wake-ups nobody has seen.
  void Clear();
  // Blocks until woken (the wake-up is taken).
  void WaitForever();
  SerialHandle Native() const { return native_; }

 private:
  SerialHandle native_ = kNoSerialHandle;
};

inline constexpr std::uint32_t kSerialWaitForever = 0xFFFFFFFFu;

// Waits up to `realMs` for the port to take output. False on time-out or
// when woken; `gone` is set when the device reported a hang-up or an error.
bool SerialWaitWritable(SerialHandle port, std::uint32_t realMs, bool& gone,
                        SerialWakeup* wakeup = nullptr);

enum class SerialWait { Input, Timeout, Gone, Woken };
// Waits up to `realMs` (kSerialWaitForever: no limit) for input, or for
// `wakeup` (taken when seen). Gone when the device reported a hang-up or an
// error. A readable port with an empty queue is reported as Input: the
// caller's read then tells whether the device went away (0 bytes or EIO).
SerialWait SerialWaitReadable(SerialHandle port, std::uint32_t realMs,
                              SerialWakeup* wakeup = nullptr);

// Makes the calling thread's short sleeps end on time (a timer slack of
// 1 us instead of the system's default), or undoes it.
void SerialFineSleeps(bool on);

// Line error flags gathered since `counters` were taken (Windows CE_* values
// below), with `counters` brought up to date. False where the driver keeps
// no record of them.
struct SerialErrorCounters {
  int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  bool valid = false;
};
bool SerialLineErrors(SerialHandle port, SerialErrorCounters& counters, std::uint32_t& flags);

inline constexpr std::uint32_t kCeRxOver = 0x0001;
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;
inline constexpr std::uint32_t kCeTxFull = 0x0100;
inline constexpr std::uint32_t kCeIoe = 0x0400;
inline constexpr std::uint32_t kCeMode = 0x8000;

}  // namespace bcu::platform
