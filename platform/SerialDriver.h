#pragma once
// The system calls the serial layer makes on an open serial port, behind one
// interface.
//
// The base class is the system itself: every operation is the plain call
// (on Linux TIOCOUTQ, tcdrain, TIOCSERGETLSR, TIOCMBIS, TIOCSRS485, ...; on
// Windows ClearCommError, FlushFileBuffers, EscapeCommFunction, ...). Both
// transports (the serial device classes and the serial port component) make
// these calls only through a SerialDriver, so that a test or a benchmark can
// replace single answers and reach what a pseudo-terminal cannot show: a
// driver that switches RS-485 itself, modem lines, the transmitter-empty bit,
// an adapter whose output never drains, a priority raise that is refused, a
// lock-file folder of its own.
//
// The object keeps no state; one instance may serve any number of ports in
// any number of threads. Calls that fail leave the reason in errno (EAGAIN:
// the device takes nothing right now; EINTR: try again; EIO: the device is
// gone), on every system.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SerialHandle.h"

namespace bcu::platform {

// Modem lines (GetModemLines, SetModemLines). The values are those of the
// Linux TIOCM_* bits.
inline constexpr int kSerialLineDtr = 0x002;
inline constexpr int kSerialLineRts = 0x004;
inline constexpr int kSerialLineCts = 0x020;
inline constexpr int kSerialLineCd = 0x040;
inline constexpr int kSerialLineRi = 0x080;
inline constexpr int kSerialLineDsr = 0x100;

// A driver's RS-485 settings, as the driver reports them (kept whole, so
// that what was there before can be put back exactly).
struct SerialRs485 {
  std::uint32_t flags = 0;
  std::uint32_t delayRtsBeforeSend = 0;
  std::uint32_t delayRtsAfterSend = 0;
  std::uint32_t reserved[5] = {};
};
inline constexpr std::uint32_t kRs485Enabled = 0x1;
inline constexpr std::uint32_t kRs485RtsOnSend = 0x2;
inline constexpr std::uint32_t kRs485RtsAfterSend = 0x4;

// What the driver says about its transmitter (shift register included).
enum class SerialTransmitter {
  Empty,    // every byte has left the line
  Sending,  // bytes are still going out
  Unknown,  // the driver cannot tell (pseudo-terminals, most USB adapters)
};

// A raise of the calling thread's priority for an exchange.
enum class SerialPriority {
  Normal,    // not raised (refused, or not asked for)
  RealTime,  // a small real-time priority (Windows: time-critical)
  Nice,      // a lower nice value
};
struct SerialPriorityGrant {
  SerialPriority kind = SerialPriority::Normal;
  int error = 0;           // why the raise was refused (kind Normal)
  int previousPolicy = 0;  // what to restore
  int previousValue = 0;
};

class SerialDriver {
 public:
  virtual ~SerialDriver() = default;

  // Folder of the UUCP lock files ("/var/lock"; none on Windows).
  virtual std::string LockFolder() const;

  // Hands bytes to the driver without waiting for room: the bytes taken, or
  // -1 (errno EAGAIN when it takes none right now).
  virtual std::ptrdiff_t Write(SerialHandle port, const void* data, std::size_t n);
  // Bytes the driver still holds for sending (TIOCOUTQ; the output queue
  // count), or -1.
  virtual int OutputQueued(SerialHandle port);
  // The transmitter-empty bit (TIOCSERGETLSR); Unknown where the driver has
  // none.
  virtual SerialTransmitter Transmitter(SerialHandle port);
  // Blocks until the driver reports everything sent (tcdrain,
  // FlushFileBuffers). Only to be called once OutputQueued is 0: what is left
  // then is the adapter's FIFO and shift register, which a driver without
  // flow control empties at the line rate. Discarding the output from
  // another thread ends it.
  virtual bool WaitSent(SerialHandle port);
  // Discards the input queue, the output queue or both (tcflush, PurgeComm).
  virtual void Discard(SerialHandle port, bool input, bool output);

  // Modem lines (kSerialLine* bits). False where the device has none.
  virtual bool GetModemLines(SerialHandle port, int& bits);
  virtual bool SetModemLines(SerialHandle port, int bits, bool on);

  // The driver's RS-485 settings (TIOCGRS485/TIOCSRS485). False where the
  // driver has no RS-485 support or refuses the settings.
  virtual bool GetRs485(SerialHandle port, SerialRs485& conf);
  virtual bool SetRs485(SerialHandle port, const SerialRs485& conf);

  // Low-latency mode (ASYNC_LOW_LATENCY): false where the driver has no such
  // flag; else `previous` tells whether it was on.
  virtual bool SetLowLatency(SerialHandle port, bool on, bool& previous);

  // Raises the calling thread's scheduling priority one step above its
  // current one; returns 0 with the priority it had in `previous`, or the
  // system's error number when it refused (a normal user may not lower a
  // nice value). RestoreThreadPriority(previous) undoes a granted raise.
  virtual int RaiseThreadPriority(int& previous);
  virtual void RestoreThreadPriority(int previous);

  // Raises the calling thread for a time-critical exchange (a download's
  // block dialogue), never for a whole program: on Linux the smallest
  // real-time priority (SCHED_FIFO 1, not inherited by children) where the
  // system allows it, else a nice level up to 5 steps lower; on Windows
  // THREAD_PRIORITY_TIME_CRITICAL. What was granted, with what to restore;
  // Normal with the system's error number when every step was refused.
  virtual SerialPriorityGrant RaiseExchangePriority();
  virtual void RestoreExchangePriority(const SerialPriorityGrant& grant);

  // Closes the port (close(2), CloseHandle).
  virtual int Close(SerialHandle port);
};

// The system's own calls.
SerialDriver& SystemSerialDriver();

// Switches the driver's RS-485 direction control on (RTS raised while
// sending, low after) and tells whether the driver accepted it; `saved`
// receives the settings to restore. False leaves the driver as it was.
bool SerialEnableKernelRs485(SerialDriver& driver, SerialHandle port, SerialRs485& saved);
// Asks the driver whether it would switch RS-485 itself: switches it on and
// back to what it was. The modem lines may move for a moment.
bool SerialKernelRs485Available(SerialDriver& driver, SerialHandle port);

// What a driver can do, learned once when a port opens, so that no call the
// driver refuses is made again per frame: each probe is one call, answered
// or refused.
struct SerialCapabilities {
  bool transmitterBit = false;  // a line status register with the transmitter-empty bit
  bool kernelRs485 = false;     // the driver has RS-485 settings (it may switch RTS itself)
  bool outputQueue = false;     // the driver counts the bytes it still holds for sending
};
SerialCapabilities SerialLearnCapabilities(SerialDriver& driver, SerialHandle port);

// Waits, for at most `maxRealMs`, until every byte written has left: the
// driver's output queue in short steps, then the transmitter (the
// transmitter-empty bit in sub-millisecond steps where the driver has one,
// else WaitSent). False when the bytes did not leave in that time (a hung
// adapter) or the device failed; the bytes are then still queued. With
// `caps`, the driver is not asked for what it was found not to have.
bool SerialDrainBounded(SerialDriver& driver, SerialHandle port, std::uint32_t maxRealMs,
                        const SerialCapabilities* caps = nullptr);

// Sleeps the calling thread for `us` microseconds.
void SerialSleepMicros(std::uint32_t us);

}  // namespace bcu::platform
