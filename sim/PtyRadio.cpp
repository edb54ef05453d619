#include "sim/PtyRadio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "link/Frame.h"

namespace bcu::sim {
namespace {

// The longest the server sleeps without looking at its radio; bounds the
// delay of a clock that is scaled oddly, not a polling interval.
constexpr int kMaxWaitMs = 1000;

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyRadio::PtyRadio(RadioConfig config, double timeScale)
    : clock_(timeScale), radio_(std::make_unique<VirtualRadio>(std::move(config), clock_)) {}

PtyRadio::~PtyRadio() {
  Stop();
}

bool PtyRadio::Start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    if (master_ >= 0) ::close(master_);
    if (slaveHold_ >= 0) ::close(slaveHold_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    master_ = slaveHold_ = wakeFd_ = -1;
    return false;
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail(Errno("posix_openpt"));
  if (::grantpt(master_) != 0) return fail(Errno("grantpt"));
  if (::unlockpt(master_) != 0) return fail(Errno("unlockpt"));
  char name[PATH_MAX];
  if (::ptsname_r(master_, name, sizeof name) != 0) return fail(Errno("ptsname"));
  devicePath_ = name;
  // Hold the slave open ourselves: without any slave the master reports a
  // hang-up on every poll until the updater opens the device.
  slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveHold_ < 0) return fail(Errno("open slave"));
  // Raw line, so nothing is echoed or translated before the updater sets it up.
  termios tio{};
  if (::tcgetattr(slaveHold_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    ::tcsetattr(slaveHold_, TCSANOW, &tio);
  }
  const int flags = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return fail(Errno("eventfd"));
  if (!symlink_.empty()) {
    ::unlink(symlink_.c_str());
    if (::symlink(name, symlink_.c_str()) != 0) return fail(Errno(("symlink " + symlink_).c_str()));
  }
  stopping_ = false;
  closed_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void PtyRadio::Wake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t r = ::write(wakeFd_, &one, sizeof one);
}

PtyRadioLateness PtyRadio::Lateness() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lateness_;
}

void PtyRadio::RecordFrameEnds(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  recordFrameEnds_ = on;
}

std::vector<std::uint64_t> PtyRadio::FrameEndTimes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frameEnds_;
}

bool PtyRadio::LineClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void PtyRadio::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slaveHold_ >= 0) ::close(slaveHold_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  master_ = slaveHold_ = wakeFd_ = -1;
  if (!symlink_.empty()) ::unlink(symlink_.c_str());
  symlink_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
}

void PtyRadio::Serve() {
  // Wake-ups are timed to the microsecond: ask the kernel not to defer them
  // by its default 50 us of timer slack (this thread only).
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::uint8_t buf[4096];
  std::vector<std::uint8_t> pending;  // due bytes the master did not take yet
  for (;;) {
    std::int64_t timeoutUs = kMaxWaitMs * 1000LL;
    bool timed = false;  // the wake-up is for something falling due
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      if (radio_->LineDropRequested()) {
        // The line goes dead: the updater's side sees a hang-up.
        ::close(master_);
        ::close(slaveHold_);
        master_ = slaveHold_ = -1;
        closed_ = true;
        return;
      }
      // Hand over what is due.
      for (;;) {
        if (pending.empty()) {
          pending.resize(sizeof buf);
          pending.resize(radio_->Transmit(pending.data(), pending.size()));
          if (pending.empty()) break;
        }
        // A frame's end is on the line when its write starts: the reader it
        // wakes can run (and answer) before this thread reads the clock again.
        const std::uint64_t handedUs = recordFrameEnds_ ? platform::RealMicros() : 0;
        const ssize_t w = ::write(master_, pending.data(), pending.size());
        if (w <= 0) break;  // the pty's buffer is full: poll for POLLOUT
        if (recordFrameEnds_ &&
            std::find(pending.begin(), pending.begin() + w, link::kFrameEnd) != pending.begin() + w)
          frameEnds_.push_back(handedUs);
        pending.erase(pending.begin(), pending.begin() + w);
      }
      // Sleep until the next byte or phase end falls due, to the microsecond:
      // at 115200 baud a byte lasts 87 us, and a wake-up rounded to whole
      // milliseconds would hold every reply back by up to a millisecond.
      const std::int64_t next = radio_->UsUntilNextEvent();
      if (next >= 0) {
        const double realUs = std::ceil(static_cast<double>(next) * clock_.Scale());
        timed = realUs <= static_cast<double>(timeoutUs);
        timeoutUs = static_cast<std::int64_t>(std::min(realUs, static_cast<double>(timeoutUs)));
        if (timeoutUs == 0 && next > 0) timeoutUs = 1;
      }
    }
    const std::uint64_t dueUs = platform::RealMicros() + static_cast<std::uint64_t>(timeoutUs);
    const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                           static_cast<long>(timeoutUs % 1000000) * 1000};
    pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0},
                     {wakeFd_, POLLIN, 0}};
    const int r = ::ppoll(fds, 2, &timeout, nullptr);
    if (r < 0 && errno != EINTR) return;
    if (r == 0 && timed) {
      const std::uint64_t now = platform::RealMicros();
      const std::uint64_t late = now > dueUs ? now - dueUs : 0;
      std::lock_guard<std::mutex> lock(mutex_);
      ++lateness_.wakes;
      lateness_.maxLateUs = std::max(lateness_.maxLateUs, late);
      if (late > 1000) ++lateness_.over1ms;
      if (late > 10000) ++lateness_.over10ms;
      if (late > 100000) ++lateness_.over100ms;
    }
    if (fds[0].revents & (POLLERR | POLLNVAL)) return;
    if (fds[1].revents & POLLIN) {
      std::uint64_t v;
      [[maybe_unused]] ssize_t rr = ::read(wakeFd_, &v, sizeof v);
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        radio_->Receive(buf, static_cast<std::size_t>(n));
      }
    }
  }
}

}  // namespace bcu::sim
