#include "platform/SerialDriver.h"

#include <errno.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/SerialLockFile.h"

namespace bcu::platform {

namespace {

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

// Between two looks at the transmitter-empty bit: a character lasts 87 us at
// 115200 baud.
constexpr std::uint32_t kTransmitterStepUs = 50;
// Between two looks at the output queue.
constexpr std::uint32_t kQueueStepUs = 500;

}  // namespace

std::string SerialDriver::LockFolder() const {
  return kSerialLockFolder;
}

ssize_t SerialDriver::Write(int fd, const void* data, std::size_t n) {
  return ::write(fd, data, n);
}

int SerialDriver::OutputQueued(int fd) {
  int n = 0;
  if (Ioctl(fd, TIOCOUTQ, &n) != 0) return -1;
  return n;
}

SerialTransmitter SerialDriver::Transmitter(int fd) {
  unsigned int lsr = 0;
  if (Ioctl(fd, TIOCSERGETLSR, &lsr) != 0) return SerialTransmitter::Unknown;
  return (lsr & TIOCSER_TEMT) != 0 ? SerialTransmitter::Empty : SerialTransmitter::Sending;
}

bool SerialDriver::WaitSent(int fd) {
  return ::tcdrain(fd) == 0 || errno == ENOTTY || errno == EINVAL;
}

void SerialDriver::Discard(int fd, bool input, bool output) {
  if (input && output)
    ::tcflush(fd, TCIOFLUSH);
  else if (input)
    ::tcflush(fd, TCIFLUSH);
  else if (output)
    ::tcflush(fd, TCOFLUSH);
}

bool SerialDriver::GetModemLines(int fd, int& bits) {
  bits = 0;
  return Ioctl(fd, TIOCMGET, &bits) == 0;
}

bool SerialDriver::SetModemLines(int fd, int bits, bool on) {
  return Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool SerialDriver::GetRs485(int fd, serial_rs485& conf) {
  conf = serial_rs485{};
  return Ioctl(fd, TIOCGRS485, &conf) == 0;
}

bool SerialDriver::SetRs485(int fd, const serial_rs485& conf) {
  serial_rs485 copy = conf;
  return Ioctl(fd, TIOCSRS485, &copy) == 0;
}

bool SerialDriver::SetLowLatency(int fd, bool on, bool& previous) {
  serial_struct ss{};
  if (Ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
  previous = (ss.flags & ASYNC_LOW_LATENCY) != 0;
  if (previous == on) return true;
  if (on)
    ss.flags |= ASYNC_LOW_LATENCY;
  else
    ss.flags &= ~ASYNC_LOW_LATENCY;
  return Ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

int SerialDriver::RaiseThreadPriority(int& previous) {
  const auto tid = static_cast<id_t>(::gettid());
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return errno;
  if (::setpriority(PRIO_PROCESS, tid, base - 1) != 0) return errno;
  previous = base;
  return 0;
}

void SerialDriver::RestoreThreadPriority(int previous) {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), previous);
}

int SerialDriver::Close(int fd) {
  return ::close(fd);
}

SerialDriver& SystemSerialDriver() {
  static SerialDriver system;
  return system;
}

bool SerialEnableKernelRs485(SerialDriver& driver, int fd, serial_rs485& saved) {
  if (!driver.GetRs485(fd, saved)) return false;
  serial_rs485 conf = saved;
  conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  conf.flags &= ~static_cast<decltype(conf.flags)>(SER_RS485_RTS_AFTER_SEND);
  if (!driver.SetRs485(fd, conf)) return false;
  // Some drivers take the call but keep RS-485 off: only what they report
  // back counts.
  serial_rs485 now{};
  if (driver.GetRs485(fd, now) && (now.flags & SER_RS485_ENABLED) == 0) {
    driver.SetRs485(fd, saved);
    return false;
  }
  return true;
}

bool SerialKernelRs485Available(SerialDriver& driver, int fd) {
  serial_rs485 saved{};
  if (!SerialEnableKernelRs485(driver, fd, saved)) return false;
  driver.SetRs485(fd, saved);
  return true;
}

bool SerialDrainBounded(SerialDriver& driver, int fd, std::uint32_t maxRealMs) {
  const std::uint64_t endUs = RealMicros() + static_cast<std::uint64_t>(maxRealMs) * 1000;
  for (;;) {
    const int left = driver.OutputQueued(fd);
    if (left < 0) return false;
    if (left == 0) break;
    if (RealMicros() >= endUs) return false;
    SerialSleepMicros(kQueueStepUs);
  }
  // The queue is empty: what is left is in the adapter's FIFO and shift
  // register.
  for (;;) {
    switch (driver.Transmitter(fd)) {
      case SerialTransmitter::Empty:
        return true;
      case SerialTransmitter::Unknown:
        return driver.WaitSent(fd);
      case SerialTransmitter::Sending:
        break;
    }
    if (RealMicros() >= endUs) return false;
    SerialSleepMicros(kTransmitterStepUs);
  }
}

void SerialSleepMicros(std::uint32_t us) {
  timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

}  // namespace bcu::platform
