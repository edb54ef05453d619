#pragma once
// The serial port component: one of the two transports of the radio link.
//
// The component owns the port's descriptor and a dispatcher whose worker
// threads move bytes between the device and two ring buffers (receive: 8192
// bytes; output: OutSize bytes), so the calling thread only ever touches
// memory. All operations are meant to be called from one thread (the GUI
// thread); two components on two ports in two threads do not share anything.
//
// Automatic opening: CharReady, GetChar, PutBlock, FlushInBuffer and
// FlushOutBuffer open a closed port first. OutBuffFree, OutBuffUsed, CTS,
// WaitCharReady and PortLost answer from the closed state without opening it.
//
// Failures raise the exceptions of link/ScpException.h.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/ScpException.h"
#include "link/ScpLineSettings.h"

namespace bcu::platform {
class PortTable;
class SerialDriver;
}  // namespace bcu::platform

namespace bcu::link {

class TScpWin32Dispatcher;
enum class TScpOutputPriority;

inline constexpr std::uint16_t kScpDefaultQueueSize = 4096;
inline constexpr std::int32_t kScpDefaultBaud = 19200;
inline constexpr std::size_t kScpReceiveRingSize = 8192;

class TScpCustomComPort {
 public:
  TScpCustomComPort();
  virtual ~TScpCustomComPort();
  TScpCustomComPort(const TScpCustomComPort&) = delete;
  TScpCustomComPort& operator=(const TScpCustomComPort&) = delete;

  // COM number 1..64. Changing it while open closes the port and opens it
  // again on the new number.
  void SetComNumber(std::uint16_t n);
  std::uint16_t ComNumber() const { return comNumber_; }
  // Where COM n lives; null: platform::DefaultDevicePath(n). Not owned.
  void SetPortTable(const platform::PortTable* table) { portTable_ = table; }
  // Opens this path instead of looking up ComNumber (pseudo-terminals, a
  // device named directly); empty: use the table. Takes effect at the next
  // open.
  void SetDevicePath(std::string path) { devicePath_ = std::move(path); }
  const std::string& DevicePath() const { return devicePath_; }
  // The path the next open uses (empty when the number names no device).
  std::string ResolvedDevicePath() const;

  // The kernel calls on the port's descriptor go through `driver` (not
  // owned; null: the system's). Takes effect at the next open.
  void SetSerialDriver(platform::SerialDriver* driver) { driver_ = driver; }

  // RS-485 mode: RTS is low while idle and raised only while the port
  // transmits (by the kernel where the driver has RS-485 support, otherwise
  // by the output thread, which drops it as soon as the last byte has left
  // the transmitter). Applied at once when the port is open.
  void SetRS485Mode(bool on);
  bool RS485Mode() const { return rs485_; }
  // While open in RS-485 mode: the driver switches RTS itself.
  bool KernelRS485() const;
  // While open in RS-485 mode: the output thread switches RTS (the driver
  // cannot, and the device has modem lines).
  bool RtsByOutputThread() const;
  // The output thread's priority (Refused: the system did not grant the
  // raise RS-485 switching asks for; OutputPriorityError holds the errno).
  TScpOutputPriority OutputPriority() const;
  int OutputPriorityError() const;
  // The UUCP lock file held while open (empty when none could be written).
  std::string LockFilePath() const;

  // Opens or closes the port. Opening raises EAlreadyOpen (-2008) for a port
  // that is in use or access-denied, EBadId (-2001) for a port that does not
  // exist, EScpIOError (the errno) for any other system failure. Closing
  // drops output not sent yet: wait for OutBuffUsed() == 0 first to keep it.
  void SetOpen(bool open);
  bool Open() const;

  // Line speed. Stored; on an open port with a different rate, first lets the
  // queued output go out at the old rate, then switches. Any rate from 110 to
  // 4000000 is taken (rates without a termios constant, such as 14400, 56000,
  // 128000 or 256000, go through the kernel's arbitrary-rate interface; a
  // driver that refuses raises EScpIOError and the old rate stays). Other
  // rates raise EBadArgument. The wait for queued output is bounded by twice
  // its line time plus half a second (at most 10 s); when it runs out the
  // rate changes anyway, without waiting for the transmitter. With the
  // device gone the rate is only stored.
  void SetBaud(std::int32_t rate);
  std::int32_t Baud() const { return baud_; }
  void SetDataBits(std::uint16_t bits);  // 5..8
  std::uint16_t DataBits() const { return dataBits_; }
  void SetStopBits(std::uint16_t bits);  // 1 or 2
  std::uint16_t StopBits() const { return stopBits_; }
  void SetParity(TScpParity parity);
  TScpParity Parity() const { return parity_; }
  // Input queue size requested from the system (kept for completeness: a
  // termios device has a fixed input queue). Output ring size; both take
  // effect at the next open.
  void SetInSize(std::uint16_t size) { inSize_ = size; }
  std::uint16_t InSize() const { return inSize_; }
  void SetOutSize(std::uint16_t size);
  std::uint16_t OutSize() const { return outSize_; }

  // Empties the receive ring and the system's input queue.
  void FlushInBuffer();
  // Stops the write in progress, empties the output ring and the system's
  // output queue.
  void FlushOutBuffer();

  // True when the receive ring holds a byte.
  bool CharReady();
  // Removes and returns the oldest received byte; EBufferIsEmpty (-3007) when
  // there is none.
  std::uint8_t GetChar();
  // Appends n bytes to the output ring, all or nothing, and returns 0.
  // EOutputBufferTooSmall (-3006) when fewer than n bytes are free (the ring
  // is left unchanged); EPutBlockFail (-3004) when the device has gone away.
  int PutBlock(const void* data, std::uint32_t n);

  // Free output ring space: OutSize minus OutBuffUsed (OutSize when closed).
  std::uint16_t OutBuffFree();
  // Bytes not yet sent: those in the output ring, including those handed to
  // the system that are still in its output queue (0 when closed).
  std::uint16_t OutBuffUsed();
  // The CTS line (false when closed, or when the device has no modem lines).
  bool CTS();

  // Blocks for at most realMs real milliseconds until the receive ring holds a
  // byte, the device goes away or the port is closed; returns CharReady().
  // Never opens a closed port (returns false at once).
  bool WaitCharReady(std::uint32_t realMs);
  // The device went away while the port was open (read error, hang-up, or a
  // readable descriptor that yields no bytes). Cleared by the next open.
  bool PortLost() const;

 private:
  void OpenPort();
  void ClosePort();
  void EnsureOpen();
  void ApplyLine();
  TScpLineSettings Line() const { return {baud_, dataBits_, stopBits_, parity_}; }

  std::uint16_t comNumber_ = 0;
  const platform::PortTable* portTable_ = nullptr;
  std::string devicePath_;
  bool rs485_ = false;
  std::int32_t baud_ = kScpDefaultBaud;
  std::uint16_t dataBits_ = 8;
  std::uint16_t stopBits_ = 1;
  TScpParity parity_ = TScpParity::None;
  std::uint16_t inSize_ = kScpDefaultQueueSize;
  std::uint16_t outSize_ = kScpDefaultQueueSize;
  platform::SerialDriver* driver_ = nullptr;
  std::unique_ptr<TScpWin32Dispatcher> dispatcher_;
};

// The component as the main window places it.
class TScpComPort : public TScpCustomComPort {
 public:
  TScpComPort() = default;
};

}  // namespace bcu::link
