#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace bcu::platform {

namespace {

// The kernel's arbitrary-rate terminal record (struct termios2). It is
// declared here because its header clashes with <termios.h>.
struct Termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, Termios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, Termios2);
constexpr tcflag_t kRateMask = 0010017;   // CBAUD
constexpr tcflag_t kRateOther = 0010000;  // BOTHER

int Fd(SerialHandle port) {
  return static_cast<int>(port);
}

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

int Poll(pollfd* p, nfds_t count, std::uint32_t realMs) {
  int timeout = realMs == kSerialWaitForever ? -1
                : realMs > 0x7FFFFFFFu       ? 0x7FFFFFFF
                                             : static_cast<int>(realMs);
  int r;
  do {
    r = ::poll(p, count, timeout);
  } while (r < 0 && errno == EINTR);
  return r;
}

void DrainEventFd(int fd) {
  std::uint64_t count = 0;
  while (::read(fd, &count, sizeof count) > 0) {
  }
}

// The termios speed constant of `rate`, or 0 when there is none.
speed_t SpeedConstant(std::uint32_t rate) {
  switch (rate) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return 0;
  }
}

// Sets any rate through the kernel's arbitrary-rate interface; false where
// the driver refuses.
bool SetCustomRate(int fd, std::uint32_t rate) {
  Termios2 t2{};
  if (Ioctl(fd, kGetTermios2, &t2) != 0) return false;
  t2.c_cflag = (t2.c_cflag & ~kRateMask) | kRateOther;
  t2.c_cflag &= ~(kRateMask << 16);  // input rate follows the output rate
  t2.c_ispeed = rate;
  t2.c_ospeed = rate;
  return Ioctl(fd, kSetTermios2, &t2) == 0;
}

}  // namespace

SerialHandle SerialOpenExclusive(const std::string& path, int& errorNumber, SerialLockFile* lock,
                                 const std::string& lockFolder, std::string* systemText) {
  errorNumber = 0;
  const auto fail = [&](int e) {
    errorNumber = e;
    if (systemText != nullptr) *systemText = std::strerror(e);
    return kNoSerialHandle;
  };
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  // The locks come before any terminal call, so that a port another program
  // holds is not disturbed at all.
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    fail(EBUSY);
    if (systemText != nullptr) *systemText = "in use by another program (it holds the port's lock)";
    return kNoSerialHandle;
  }
  // (A file system without flock: the lock file and TIOCEXCL remain.)
  std::string why;
  long holder = 0;
  const bool heldElsewhere = lock != nullptr ? lock->Acquire(lockFolder, path, &holder, &why) != 0
                                             : (holder = SerialLockHolder(lockFolder, path)) != 0;
  if (heldElsewhere) {
    ::close(fd);
    fail(EBUSY);
    if (why.empty())
      why = "held by process " + std::to_string(holder) + " (its lock file " +
            SerialLockPath(lockFolder, path) + ")";
    if (systemText != nullptr) *systemText = why;
    return kNoSerialHandle;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    if (lock != nullptr) lock->Release();
    ::close(fd);
    return fail(ENOTTY);
  }
  Ioctl(fd, TIOCEXCL, nullptr);  // keeps out non-root openers; no lock for root
  return fd;
}

void SerialLeaveExclusive(SerialHandle port) {
  if (port < 0) return;
  ::ioctl(Fd(port), TIOCNXCL);
}

void SerialClose(SerialHandle port) {
  if (port < 0) return;
  Ioctl(Fd(port), TIOCNXCL, nullptr);
  ::close(Fd(port));
}

bool SerialReadLine(SerialHandle port, SerialLineConfig& line) {
  termios tio{};
  const bool read = ::tcgetattr(Fd(port), &tio) == 0;
  const std::uint32_t rate = line.BaudRate;
  line = SerialLineConfig{};
  line.BaudRate = rate;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      line.ByteSize = 5;
      break;
    case CS6:
      line.ByteSize = 6;
      break;
    case CS7:
      line.ByteSize = 7;
      break;
    default:
      line.ByteSize = 8;
  }
  line.StopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
  line.fParity = (tio.c_cflag & PARENB) != 0;
  if (line.fParity) line.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
  line.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  line.fRtsControl = line.fOutxCtsFlow ? kRtsControlHandshake : kRtsControlEnable;
  line.fOutX = (tio.c_iflag & IXON) != 0;
  line.fInX = (tio.c_iflag & IXOFF) != 0;
  return read;
}

int SerialWriteLine(SerialHandle port, const SerialLineConfig& line, SerialLineScope scope) {
  const int fd = Fd(port);
  termios tio{};
  if (::tcgetattr(fd, &tio) < 0) return errno;
  if (scope == SerialLineScope::Whole) {
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    // On the non-blocking descriptor a read returns what is there, fails with
    // EAGAIN when nothing is, and returns 0 only when the device is gone. (With
    // VMIN 0 an empty live port also reads 0 bytes, exactly like an unplugged
    // one.)
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (line.fOutxCtsFlow || line.fRtsControl == kRtsControlHandshake) tio.c_cflag |= CRTSCTS;
    if (line.fOutX) tio.c_iflag |= IXON;
    if (line.fInX) tio.c_iflag |= IXOFF;
  }
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  switch (line.ByteSize) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    default:
      tio.c_cflag |= CS8;
      break;
  }
  if (line.fParity && line.Parity >= 1 && line.Parity <= 4) {
    tio.c_cflag |= PARENB;
    if (line.Parity == 1 || line.Parity == 3) tio.c_cflag |= PARODD;
    if (line.Parity == 3 || line.Parity == 4) tio.c_cflag |= CMSPAR;
  }
  // One and a half stop bits exist only with five data bits, where the
  // terminal's two-stop-bit flag means exactly that.
  if (line.StopBits == kOne5StopBits || line.StopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
  const speed_t speed = SpeedConstant(line.BaudRate);
  if (speed != 0) {
    if (::cfsetspeed(&tio, speed) < 0) return errno;
  }
  if (::tcsetattr(fd, TCSANOW, &tio) < 0) return errno;
  if (speed == 0 && !SetCustomRate(fd, line.BaudRate)) return errno != 0 ? errno : EINVAL;
  return 0;
}

int SerialInputCount(SerialHandle port) {
  int n = 0;
  if (Ioctl(Fd(port), FIONREAD, &n) != 0) return -1;
  return n;
}

std::ptrdiff_t SerialRead(SerialHandle port, void* buffer, std::size_t n) {
  return ::read(Fd(port), buffer, n);
}

SerialWakeup::SerialWakeup() = default;

SerialWakeup::~SerialWakeup() {
  Close();
}

bool SerialWakeup::Open(int& errorNumber) {
  Close();
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    errorNumber = errno;
    return false;
  }
  native_ = fd;
  return true;
}

void SerialWakeup::Close() {
  if (native_ >= 0) ::close(Fd(native_));
  native_ = kNoSerialHandle;
}

void SerialWakeup::Wake() {
  if (native_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto n = ::write(Fd(native_), &one, sizeof one);
}

void SerialWakeup::Clear() {
  if (native_ >= 0) DrainEventFd(Fd(native_));
}

void SerialWakeup::WaitForever() {
  pollfd wake{Fd(native_), POLLIN, 0};
  ::poll(&wake, 1, -1);
  DrainEventFd(Fd(native_));
}

bool SerialWaitWritable(SerialHandle port, std::uint32_t realMs, bool& gone, SerialWakeup* wakeup) {
  gone = false;
  if (wakeup != nullptr) {
    pollfd fds[2] = {{Fd(port), POLLOUT, 0}, {Fd(wakeup->Native()), POLLIN, 0}};
    const int r = Poll(fds, 2, realMs);
    if (r > 0 && fds[1].revents != 0) DrainEventFd(Fd(wakeup->Native()));
    return r > 0 && (fds[0].revents & POLLOUT) != 0;
  }
  pollfd p{Fd(port), POLLOUT, 0};
  int r = Poll(&p, 1, realMs);
  gone = r < 0 || (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
  return r > 0 && !gone && (p.revents & POLLOUT) != 0;
}

SerialWait SerialWaitReadable(SerialHandle port, std::uint32_t realMs, SerialWakeup* wakeup) {
  if (wakeup != nullptr) {
    pollfd fds[2] = {{Fd(port), POLLIN, 0}, {Fd(wakeup->Native()), POLLIN, 0}};
    // (Not restarted after a signal: the caller's loop looks at its flags.)
    const int r = ::poll(fds, 2,
                         realMs == kSerialWaitForever ? -1
                         : realMs > 0x7FFFFFFFu       ? 0x7FFFFFFF
                                                      : static_cast<int>(realMs));
    if (r < 0) return errno == EINTR ? SerialWait::Timeout : SerialWait::Gone;
    const bool woken = fds[1].revents != 0;
    if (woken) DrainEventFd(Fd(wakeup->Native()));
    if ((fds[0].revents & POLLIN) != 0) return SerialWait::Input;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return SerialWait::Gone;
    return woken ? SerialWait::Woken : SerialWait::Timeout;
  }
  pollfd p{Fd(port), POLLIN, 0};
  int r = Poll(&p, 1, realMs);
  if (r < 0) return SerialWait::Gone;
  if (r == 0) return SerialWait::Timeout;
  if (p.revents & POLLIN) return SerialWait::Input;
  return SerialWait::Gone;  // POLLHUP, POLLERR or POLLNVAL without data
}

void SerialFineSleeps(bool on) {
  constexpr unsigned long kFineTimerSlackNs = 1000;
  ::prctl(PR_SET_TIMERSLACK, on ? kFineTimerSlackNs : 0ul, 0ul, 0ul, 0ul);
}

bool SerialLineErrors(SerialHandle port, SerialErrorCounters& counters, std::uint32_t& flags) {
  flags = 0;
  serial_icounter_struct ic{};
  if (Ioctl(Fd(port), TIOCGICOUNT, &ic) != 0) return false;
  if (counters.valid) {
    if (ic.brk != counters.brk) flags |= kCeBreak;
    if (ic.frame != counters.frame) flags |= kCeFrame;
    if (ic.overrun != counters.overrun) flags |= kCeOverrun;
    if (ic.parity != counters.parity) flags |= kCeRxParity;
    if (ic.buf_overrun != counters.bufOverrun) flags |= kCeRxOver;
  }
  counters.brk = ic.brk;
  counters.frame = ic.frame;
  counters.overrun = ic.overrun;
  counters.parity = ic.parity;
  counters.bufOverrun = ic.buf_overrun;
  counters.valid = true;
  return true;
}

}  // namespace bcu::platform
