#include <errno.h>
#include <linux/serial.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/SerialDriver.h"
#include "platform/SerialLockFile.h"

namespace bcu::platform {

static_assert(kSerialLineDtr == TIOCM_DTR && kSerialLineRts == TIOCM_RTS &&
              kSerialLineCts == TIOCM_CTS && kSerialLineCd == TIOCM_CAR &&
              kSerialLineRi == TIOCM_RNG && kSerialLineDsr == TIOCM_DSR);
static_assert(kRs485Enabled == SER_RS485_ENABLED && kRs485RtsOnSend == SER_RS485_RTS_ON_SEND &&
              kRs485RtsAfterSend == SER_RS485_RTS_AFTER_SEND);
static_assert(sizeof(SerialRs485) == sizeof(serial_rs485));

namespace {

int Fd(SerialHandle port) {
  return static_cast<int>(port);
}

int Ioctl(SerialHandle port, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(Fd(port), request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

std::string SerialDriver::LockFolder() const {
  return kSerialLockFolder;
}

std::ptrdiff_t SerialDriver::Write(SerialHandle port, const void* data, std::size_t n) {
  return ::write(Fd(port), data, n);
}

int SerialDriver::OutputQueued(SerialHandle port) {
  int n = 0;
  if (Ioctl(port, TIOCOUTQ, &n) != 0) return -1;
  return n;
}

SerialTransmitter SerialDriver::Transmitter(SerialHandle port) {
  unsigned int lsr = 0;
  if (Ioctl(port, TIOCSERGETLSR, &lsr) != 0) return SerialTransmitter::Unknown;
  return (lsr & TIOCSER_TEMT) != 0 ? SerialTransmitter::Empty : SerialTransmitter::Sending;
}

bool SerialDriver::WaitSent(SerialHandle port) {
  return ::tcdrain(Fd(port)) == 0 || errno == ENOTTY || errno == EINVAL;
}

void SerialDriver::Discard(SerialHandle port, bool input, bool output) {
  if (input && output)
    ::tcflush(Fd(port), TCIOFLUSH);
  else if (input)
    ::tcflush(Fd(port), TCIFLUSH);
  else if (output)
    ::tcflush(Fd(port), TCOFLUSH);
}

bool SerialDriver::GetModemLines(SerialHandle port, int& bits) {
  bits = 0;
  return Ioctl(port, TIOCMGET, &bits) == 0;
}

bool SerialDriver::SetModemLines(SerialHandle port, int bits, bool on) {
  return Ioctl(port, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool SerialDriver::GetRs485(SerialHandle port, SerialRs485& conf) {
  serial_rs485 kernel{};
  conf = SerialRs485{};
  if (Ioctl(port, TIOCGRS485, &kernel) != 0) return false;
  std::memcpy(static_cast<void*>(&conf), &kernel, sizeof kernel);
  return true;
}

bool SerialDriver::SetRs485(SerialHandle port, const SerialRs485& conf) {
  serial_rs485 copy{};
  std::memcpy(&copy, &conf, sizeof copy);
  return Ioctl(port, TIOCSRS485, &copy) == 0;
}

bool SerialDriver::SetLowLatency(SerialHandle port, bool on, bool& previous) {
  serial_struct ss{};
  if (Ioctl(port, TIOCGSERIAL, &ss) != 0) return false;
  previous = (ss.flags & ASYNC_LOW_LATENCY) != 0;
  if (previous == on) return true;
  if (on)
    ss.flags |= ASYNC_LOW_LATENCY;
  else
    ss.flags &= ~ASYNC_LOW_LATENCY;
  return Ioctl(port, TIOCSSERIAL, &ss) == 0;
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

SerialPriorityGrant SerialDriver::RaiseExchangePriority() {
  SerialPriorityGrant grant;
  sched_param param{};
  const int policy = ::sched_getscheduler(0);
  if (policy < 0 || ::sched_getparam(0, &param) != 0) {
    grant.error = errno;
    return grant;
  }
  if ((policy & ~SCHED_RESET_ON_FORK) != SCHED_OTHER) return grant;  // raised already
  sched_param fifo{};
  fifo.sched_priority = 1;
  // (The calling thread only: 0 names it. Children start at normal priority.)
  if (::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &fifo) == 0) {
    grant.kind = SerialPriority::RealTime;
    grant.previousPolicy = policy;
    grant.previousValue = param.sched_priority;
    return grant;
  }
  grant.error = errno;
  const auto tid = static_cast<id_t>(::gettid());
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return grant;
  for (int step = 5; step >= 1; --step) {
    if (::setpriority(PRIO_PROCESS, tid, base - step) == 0) {
      grant.kind = SerialPriority::Nice;
      grant.previousValue = base;
      grant.error = 0;
      return grant;
    }
  }
  return grant;
}

void SerialDriver::RestoreExchangePriority(const SerialPriorityGrant& grant) {
  if (grant.kind == SerialPriority::RealTime) {
    sched_param param{};
    param.sched_priority = grant.previousValue;
    ::sched_setscheduler(0, grant.previousPolicy, &param);
  } else if (grant.kind == SerialPriority::Nice) {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), grant.previousValue);
  }
}

int SerialDriver::Close(SerialHandle port) {
  return ::close(Fd(port));
}

void SerialSleepMicros(std::uint32_t us) {
  timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

}  // namespace bcu::platform
