#include "support/LinkPeer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/Frame.h"

namespace bcu::test {

LinkPeer::LinkPeer() {
  char name[128] = {};
  if (::openpty(&master_, &holder_, name, nullptr, nullptr) != 0) {
    master_ = holder_ = -1;
    return;
  }
  path_ = name;
  termios tio{};
  if (::tcgetattr(holder_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(holder_, TCSANOW, &tio);
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(holder_, F_SETFD, FD_CLOEXEC);
}

LinkPeer::~LinkPeer() {
  Unplug();
  if (holder_ >= 0) ::close(holder_);
}

void LinkPeer::Start(PeerScript script) {
  Stop();
  script_ = std::move(script);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void LinkPeer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void LinkPeer::Unplug() {
  Stop();
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void LinkPeer::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (master_ >= 0 && done < bytes.size()) {
    ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    // A full line: wait a little for the reader, give up if it has stopped.
    pollfd p{master_, POLLOUT, 0};
    if (w < 0 && errno == EAGAIN && ::poll(&p, 1, 100) == 1 && (p.revents & POLLOUT)) continue;
    break;
  }
}

std::vector<std::uint8_t> LinkPeer::Frame(const std::vector<std::uint8_t>& payload) {
  return link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()), 0x01, 0x7F);
}

std::vector<PeerFrame> LinkPeer::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<std::uint8_t> LinkPeer::RawBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return raw_;
}

bool LinkPeer::WaitForFrames(std::size_t n, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return frames_.size() >= n; });
}

void LinkPeer::Run() {
  std::uint8_t buf[4096];
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    int r = ::poll(&p, 1, 10);
    if (r <= 0) continue;
    if ((p.revents & POLLIN) == 0) {
      ::poll(nullptr, 0, 10);  // hang-up on the slave side: nothing to read
      continue;
    }
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) {
      ::poll(nullptr, 0, 10);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      raw_.insert(raw_.end(), buf, buf + n);
    }
    for (ssize_t i = 0; i < n; ++i) Feed(buf[i]);
  }
}

// The peer's parser accepts frames as the radio sees them: 0xBA, 0x7F, any
// second header byte, stuffed payload and checksum, 0x7E.
void LinkPeer::Feed(std::uint8_t b) {
  if (b == link::kFrameStart) {
    collect_.clear();
    collecting_ = true;
    return;
  }
  if (!collecting_) return;
  if (b != link::kFrameEnd) {
    collect_.push_back(b);
    return;
  }
  collecting_ = false;
  std::vector<std::uint8_t> u;
  for (std::size_t i = 0; i < collect_.size(); ++i) {
    std::uint8_t c = collect_[i];
    if (c == link::kFrameEscape && i + 1 < collect_.size() && collect_[i + 1] <= 2) {
      static constexpr std::uint8_t kPlain[3] = {0xBA, 0x7E, 0x10};
      c = kPlain[collect_[++i]];
    }
    u.push_back(c);
  }
  if (u.size() < 3 || u[0] != 0x7F) return;
  std::uint8_t sum = 0;
  for (auto c : u) sum = static_cast<std::uint8_t>(sum + c);
  if (sum != 0) return;
  PeerFrame f;
  f.header1 = u[0];
  f.header2 = u[1];
  f.payload.assign(u.begin() + 2, u.end() - 1);
  PeerReplies replies;
  if (script_) replies = script_(f);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(f);
  }
  cv_.notify_all();
  for (const auto& r : replies) Send(r);
}

}  // namespace bcu::test
