#pragma once
// The kernel calls the serial layer makes on an open terminal device, behind
// one interface.
//
// The base class is the system itself: every operation is the plain call
// (TIOCOUTQ, tcdrain, TIOCSERGETLSR, TIOCMBIS, TIOCSRS485, ...). Both
// transports (the serial device classes and the serial port component) make
// these calls only through a SerialDriver, so that a test or a benchmark can
// replace single answers and reach what a pseudo-terminal cannot show: a
// driver that switches RS-485 itself, modem lines, the transmitter-empty bit,
// an adapter whose output never drains, a priority raise that is refused, a
// lock-file folder of its own.
//
// The object keeps no state; one instance may serve any number of ports in
// any number of threads.
#include <linux/serial.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace bcu::platform {

// What the driver says about its transmitter (shift register included).
enum class SerialTransmitter {
  Empty,    // every byte has left the line
  Sending,  // bytes are still going out
  Unknown,  // the driver cannot tell (pseudo-terminals, most USB adapters)
};

class SerialDriver {
 public:
  virtual ~SerialDriver() = default;

  // Folder of the UUCP lock files ("/var/lock").
  virtual std::string LockFolder() const;

  // write(2) on the non-blocking descriptor.
  virtual ssize_t Write(int fd, const void* data, std::size_t n);
  // Bytes the driver still holds for sending (TIOCOUTQ), or -1.
  virtual int OutputQueued(int fd);
  // The transmitter-empty bit (TIOCSERGETLSR); Unknown where the driver has
  // none.
  virtual SerialTransmitter Transmitter(int fd);
  // Blocks until the driver reports everything sent (tcdrain). Only to be
  // called once OutputQueued is 0: what is left then is the adapter's FIFO
  // and shift register, which a driver without flow control empties at the
  // line rate. Discarding the output from another thread ends it.
  virtual bool WaitSent(int fd);
  // Discards the input queue, the output queue or both (tcflush).
  virtual void Discard(int fd, bool input, bool output);

  // Modem lines (TIOCM_* bits). False where the device has none.
  virtual bool GetModemLines(int fd, int& bits);
  virtual bool SetModemLines(int fd, int bits, bool on);

  // The driver's RS-485 settings (TIOCGRS485/TIOCSRS485). False where the
  // driver has no RS-485 support or refuses the settings.
  virtual bool GetRs485(int fd, serial_rs485& conf);
  virtual bool SetRs485(int fd, const serial_rs485& conf);

  // Low-latency mode (ASYNC_LOW_LATENCY): false where the driver has no such
  // flag; else `previous` tells whether it was on.
  virtual bool SetLowLatency(int fd, bool on, bool& previous);

  // Raises the calling thread's scheduling priority one step above its
  // current nice value; returns 0 with the nice value it had in `previous`,
  // or the errno when the system refused (a normal user may not lower a nice
  // value). RestoreThreadPriority(previous) undoes a granted raise.
  virtual int RaiseThreadPriority(int& previous);
  virtual void RestoreThreadPriority(int previous);

  // close(2).
  virtual int Close(int fd);
};

// The system's own calls.
SerialDriver& SystemSerialDriver();

// Switches the driver's RS-485 direction control on (RTS raised while
// sending, low after) and tells whether the driver accepted it; `saved`
// receives the settings to restore. False leaves the driver as it was.
bool SerialEnableKernelRs485(SerialDriver& driver, int fd, serial_rs485& saved);
// Asks the driver whether it would switch RS-485 itself: switches it on and
// back to what it was. The modem lines may move for a moment.
bool SerialKernelRs485Available(SerialDriver& driver, int fd);

// Waits, for at most `maxRealMs`, until every byte written has left: the
// driver's output queue in short steps, then the transmitter (the
// transmitter-empty bit in sub-millisecond steps where the driver has one,
// else WaitSent). False when the bytes did not leave in that time (a hung
// adapter) or the device failed; the bytes are then still queued.
bool SerialDrainBounded(SerialDriver& driver, int fd, std::uint32_t maxRealMs);

// Sleeps the calling thread for `us` microseconds.
void SerialSleepMicros(std::uint32_t us);

}  // namespace bcu::platform
