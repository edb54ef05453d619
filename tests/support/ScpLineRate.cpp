// Reads the rate through termios2; the kernel's headers clash with <termios.h>,
// so this file includes only them.
#include "support/ScpLineRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace bcu::test {

std::uint32_t LineRate(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) < 0) return 0;
  return tio.c_ospeed;
}

void SetLineRate9600(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) < 0) return;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= B9600;
  tio.c_ispeed = 9600;
  tio.c_ospeed = 9600;
  ioctl(fd, TCSETS2, &tio);
}

}  // namespace bcu::test
