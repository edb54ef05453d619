#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/Console.h"

namespace bcu::platform {

// EchoOff keeps the terminal's settings in 64 bytes of its own.
static_assert(sizeof(termios) <= 64);

bool IsTerminal(std::FILE* stream) {
  return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (stream != nullptr && ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

bool EnableControlSequences(std::FILE* stream) {
  return IsTerminal(stream);
}

EchoOff::EchoOff(std::FILE* in) : in_(in) {
  if (!IsTerminal(in)) return;
  termios saved{};
  ::tcgetattr(::fileno(in), &saved);
  std::memcpy(savedState_, &saved, sizeof saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(::fileno(in), TCSANOW, &quiet);
  active_ = true;
}

EchoOff::~EchoOff() {
  if (!active_) return;
  termios saved{};
  std::memcpy(&saved, savedState_, sizeof saved);
  ::tcsetattr(::fileno(in_), TCSANOW, &saved);
}

InputWait WaitForInput(std::FILE* in, int ms) {
  pollfd p{::fileno(in), POLLIN, 0};
  const int ready = ::poll(&p, 1, ms);
  if (ready < 0 && errno != EINTR) return InputWait::Failed;
  return ready > 0 ? InputWait::Ready : InputWait::Timeout;
}

int ReadInputByte(std::FILE* in, char& c) {
  const ssize_t n = ::read(::fileno(in), &c, 1);
  return n > 0 ? 1 : static_cast<int>(n);
}

}  // namespace bcu::platform
