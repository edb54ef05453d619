#include "link/ScpLineSettings.h"

#include <termios.h>

#include <cerrno>

#include "platform/PosixSerial.h"

namespace bcu::link {

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
    // On the non-blocking descriptor a read returns what is there, fails with
    // EAGAIN when nothing is, and returns 0 only when the device is gone. (With
    // VMIN 0 an empty live port also reads 0 bytes, exactly like an unplugged
    // one.)
    tio.c_cc[VMIN] = 1;
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
  const auto rate = static_cast<std::uint32_t>(s.baud);
  const speed_t speed = platform::SerialSpeedConstant(rate);
  if (speed != 0) {
    if (cfsetspeed(&tio, speed) < 0) return errno;
  }
  if (tcsetattr(fd, TCSANOW, &tio) < 0) return errno;
  if (speed == 0 && !platform::SerialSetCustomRate(fd, rate)) return errno != 0 ? errno : EINVAL;
  return 0;
}

}  // namespace bcu::link
