#include "support/ScpPseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace bcu::test {

PseudoTerminal::PseudoTerminal() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) < 0) {
    throw std::system_error(errno, std::system_category(), "openpty");
  }
  slavePath_ = name;
  // The slave keeps the system's default (cooked, echoing) settings: the
  // component under test has to switch them to raw itself.
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal() {
  CloseMaster();
  if (slave_ >= 0) ::close(slave_);
}

void PseudoTerminal::Write(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      throw std::system_error(errno, std::system_category(), "write to master");
    } else {
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 5000) == 0) throw std::runtime_error("master side stays full");
    }
  }
}

std::vector<std::uint8_t> PseudoTerminal::Read(std::size_t n, int silenceMs) {
  std::vector<std::uint8_t> out;
  std::uint8_t chunk[4096];
  while (out.size() < n) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, silenceMs) <= 0) break;
    const ssize_t got = ::read(master_, chunk, sizeof chunk);
    if (got > 0) {
      out.insert(out.end(), chunk, chunk + got);
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  return out;
}

std::vector<std::uint8_t> PseudoTerminal::ReadUntilSilent(int silenceMs) {
  return Read(static_cast<std::size_t>(-1), silenceMs);
}

bool PseudoTerminal::SlaveWritable() const {
  pollfd p{slave_, POLLOUT, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT) != 0;
}

void PseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::vector<std::uint8_t> TestPattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = static_cast<std::uint8_t>((i % 251) * 7 + seed * 13 + i / 251);
  }
  return out;
}

}  // namespace bcu::test
