#include "platform/PosixSerial.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Clock.h"

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

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

int Poll(pollfd& p, std::uint32_t realMs) {
  int timeout = realMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(realMs);
  int r;
  do {
    r = ::poll(&p, 1, timeout);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

int SerialOpenExclusive(const std::string& path, int& errorNumber, SerialLockFile* lock,
                        const std::string& lockFolder) {
  errorNumber = 0;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errorNumber = errno;
    return -1;
  }
  // The locks come before any terminal call, so that a port another program
  // holds is not disturbed at all.
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0 && errno == EWOULDBLOCK) {
    errorNumber = EBUSY;
    ::close(fd);
    return -1;
  }
  // (A file system without flock: the lock file and TIOCEXCL remain.)
  const bool heldElsewhere = lock != nullptr ? lock->Acquire(lockFolder, path) != 0
                                             : SerialLockHolder(lockFolder, path) != 0;
  if (heldElsewhere) {
    errorNumber = EBUSY;
    ::close(fd);
    return -1;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    errorNumber = ENOTTY;
    if (lock != nullptr) lock->Release();
    ::close(fd);
    return -1;
  }
  Ioctl(fd, TIOCEXCL, nullptr);  // keeps out non-root openers; no lock for root
  return fd;
}

void SerialClose(int fd) {
  if (fd < 0) return;
  Ioctl(fd, TIOCNXCL, nullptr);
  ::close(fd);
}

bool SerialGetAttr(int fd, termios& tio) {
  return ::tcgetattr(fd, &tio) == 0;
}

bool SerialSetAttr(int fd, const termios& tio) {
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void SerialMakeRaw(termios& tio) {
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

speed_t SerialSpeedConstant(std::uint32_t rate) {
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

bool SerialRateIsStandard(std::uint32_t rate) {
  return SerialSpeedConstant(rate) != 0;
}

void SerialPutRate(termios& tio, std::uint32_t rate) {
  speed_t s = SerialSpeedConstant(rate);
  if (s != 0) ::cfsetspeed(&tio, s);
}

bool SerialSetCustomRate(int fd, std::uint32_t rate) {
  Termios2 t2{};
  if (Ioctl(fd, kGetTermios2, &t2) != 0) return false;
  t2.c_cflag = (t2.c_cflag & ~kRateMask) | kRateOther;
  t2.c_cflag &= ~(kRateMask << 16);  // input rate follows the output rate
  t2.c_ispeed = rate;
  t2.c_ospeed = rate;
  return Ioctl(fd, kSetTermios2, &t2) == 0;
}

int SerialInputCount(int fd) {
  int n = 0;
  if (Ioctl(fd, FIONREAD, &n) != 0) return -1;
  return n;
}

bool SerialWaitWritable(int fd, std::uint32_t realMs, bool& gone) {
  pollfd p{fd, POLLOUT, 0};
  int r = Poll(p, realMs);
  gone = r < 0 || (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
  return r > 0 && !gone && (p.revents & POLLOUT) != 0;
}

SerialWait SerialWaitReadable(int fd, std::uint32_t realMs) {
  pollfd p{fd, POLLIN, 0};
  int r = Poll(p, realMs);
  if (r < 0) return SerialWait::Gone;
  if (r == 0) return SerialWait::Timeout;
  if (p.revents & POLLIN) return SerialWait::Input;
  return SerialWait::Gone;  // POLLHUP, POLLERR or POLLNVAL without data
}

bool SerialLineErrors(int fd, SerialErrorCounters& counters, std::uint32_t& flags) {
  flags = 0;
  serial_icounter_struct ic{};
  if (Ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
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
