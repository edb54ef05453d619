#include "tests/support/UpdatePeer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "link/Frame.h"

namespace bcu::testsupport {

UpdatePeer::UpdatePeer() {
  int slave = -1;
  char name[256] = {};
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  // The slave stays open here too, so the master never sees a hang-up while
  // the PC side reopens the line.
  slavePath_ = name;
  ::close(slave);
  termios mtio{};
  tcgetattr(master_, &mtio);
  cfmakeraw(&mtio);
  tcsetattr(master_, TCSANOW, &mtio);
}

UpdatePeer::~UpdatePeer() {
  Join();
  if (master_ >= 0) ::close(master_);
}

void UpdatePeer::Run(std::function<void(UpdatePeer&)> script) {
  thread_ = std::thread([this, script = std::move(script)] { script(*this); });
}

void UpdatePeer::Join() {
  if (thread_.joinable()) thread_.join();
}

void UpdatePeer::ReadInto(int ms) {
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0 || !(p.revents & POLLIN)) return;
  std::uint8_t bytes[512];
  const ssize_t n = ::read(master_, bytes, sizeof bytes);
  for (ssize_t i = 0; i < n; ++i) {
    const std::uint8_t c = bytes[i];
    if (c == link::kFrameStart) {
      collect_.clear();
      inFrame_ = true;
      continue;
    }
    if (!inFrame_) continue;
    if (c != link::kFrameEnd) {
      collect_.push_back(c);
      continue;
    }
    inFrame_ = false;
    Payload raw;
    for (std::size_t j = 0; j < collect_.size(); ++j) {
      std::uint8_t b = collect_[j];
      if (b == link::kFrameEscape && j + 1 < collect_.size()) {
        const std::uint8_t e = collect_[++j];
        b = e == 0 ? link::kFrameStart : (e == 1 ? link::kFrameEnd : link::kFrameEscape);
      }
      raw.push_back(b);
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t b : raw) sum = static_cast<std::uint8_t>(sum + b);
    if (raw.size() < 3 || sum != 0) continue;
    Payload payload(raw.begin() + 2, raw.end() - 1);
    std::lock_guard lock(mutex_);
    pending_.push_back(payload);
    all_.push_back(std::move(payload));
  }
}

std::optional<Payload> UpdatePeer::Next(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!pending_.empty()) {
        Payload p = std::move(pending_.front());
        pending_.pop_front();
        return p;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return std::nullopt;
    ReadInto(static_cast<int>(left));
  }
}

void UpdatePeer::Send(const Payload& payload) {
  const auto frame =
      link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()), 0x01, 0x7F);
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::write(master_, frame.data() + done, frame.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::vector<Payload> UpdatePeer::Received() const {
  std::lock_guard lock(mutex_);
  return all_;
}

UpdateLinkHost::UpdateLinkHost(const std::string& devicePath, std::uint32_t timeoutMs)
    : timers_(clock_), pump_(timers_) {
  link::CommInitLink(link_);
  ports_.SetDevicePath(1, devicePath);
  link_.pump = &pump_;
  link_.clock = &clock_;
  link_.ports = &ports_;
  commTimer_ = timers_.Create([this] {
    link::CommSetRunning(link_, false);
    commTimer_->SetEnabled(false);
  });
  link_.timeoutTimer = commTimer_.get();
  std::string error;
  opened_ = link::CommOpenSerialDevice(link_, 1, 19200, 0, error);
  link::CommSetFramed(link_, true);
  link::CommSetRunning(link_, true);
  link::CommSetTimeout(link_, timeoutMs);
}

UpdateLinkHost::~UpdateLinkHost() {
  link::CommCloseLink(link_);
}

Payload Group3(std::uint8_t code, const std::vector<std::uint8_t>& data) {
  Payload p;
  p.reserve(2 + data.size());
  p.push_back(3);
  p.push_back(code);
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

bool Is(const Payload& p, std::uint8_t group, std::uint8_t code) {
  return p.size() >= 2 && p[0] == group && p[1] == code;
}

}  // namespace bcu::testsupport
