// The kernel's termios2 (BOTHER) interface; kept apart from <termios.h>, whose
// struct termios differs from the kernel's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

namespace bcu::link {

int ScpSetArbitrarySpeed(int fd, std::int32_t rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) < 0) return errno;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(rate);
  tio.c_ospeed = static_cast<speed_t>(rate);
  if (ioctl(fd, TCSETS2, &tio) < 0) return errno;
  return 0;
}

}  // namespace bcu::link
