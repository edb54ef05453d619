#include "link/ScpLineSettings.h"

#include <termios.h>

#include <cerrno>

namespace bcu::link {

namespace {

// The B-constant of a rate, or B0 when termios has none for it.
speed_t StandardSpeed(std::int32_t rate) {
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
      return B0;
  }
}

}  // namespace

int ScpBitsPerChar(const TScpLineSettings& s) {
  return 1 + s.dataBits + (s.parity == TScpParity::None ? 0 : 1) + s.stopBits;
}

std::uint32_t ScpCharsMs(const TScpLineSettings& s, std::uint32_t chars) {
  if (s.baud <= 0) return 0;
  const std::uint64_t bits = static_cast<std::uint64_t>(chars) * ScpBitsPerChar(s) * 1000u;
  const auto baud = static_cast<std::uint64_t>(s.baud);
  return static_cast<std::uint32_t>((bits + baud - 1) / baud);
}

int ScpApplyLineSettings(int fd, const TScpLineSettings& s, bool raw) {
  termios tio{};
  if (tcgetattr(fd, &tio) < 0) return errno;
  if (raw) {
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
  }
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  switch (s.dataBits) {
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
  switch (s.parity) {
    case TScpParity::None:
      break;
    case TScpParity::Odd:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case TScpParity::Even:
      tio.c_cflag |= PARENB;
      break;
    case TScpParity::Mark:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case TScpParity::Space:
      tio.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  const speed_t speed = StandardSpeed(s.baud);
  if (speed != B0) {
    if (cfsetspeed(&tio, speed) < 0) return errno;
  }
  if (tcsetattr(fd, TCSANOW, &tio) < 0) return errno;
  if (speed == B0) return ScpSetArbitrarySpeed(fd, s.baud);
  return 0;
}

}  // namespace bcu::link
