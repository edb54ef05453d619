#include "support/AppRadio.h"

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "link/Frame.h"  // BuildFrame for the replies

namespace bcu::testing {

namespace {

constexpr std::uint8_t kProbe[] = {0xBA, 0x7F, 0x4F, 0x09, 0x01, 0x77, 0x77, 0x77, 0xC3, 0x7E};

std::uint16_t Key(std::uint8_t group, std::uint8_t code) {
  return static_cast<std::uint16_t>(group << 8 | code);
}

// Collects the command frames the updater sends (0xBA 0x7F 0x01 ... 0x7E): the
// link's own receive parser takes only frames with 0x7F in the third byte,
// which is how the radio answers.
class CommandParser {
 public:
  bool Feed(std::uint8_t c) {
    if (c == 0xBA) {
      collected_.clear();
      open_ = true;
      return false;
    }
    if (!open_) return false;
    if (c != 0x7E) {
      collected_.push_back(c);
      return false;
    }
    open_ = false;
    std::vector<std::uint8_t> plain;
    for (std::size_t i = 0; i < collected_.size(); ++i) {
      if (collected_[i] == 0x10 && i + 1 < collected_.size() && collected_[i + 1] <= 2) {
        static constexpr std::uint8_t kPlain[] = {0xBA, 0x7E, 0x10};
        plain.push_back(kPlain[collected_[++i]]);
      } else {
        plain.push_back(collected_[i]);
      }
    }
    std::uint8_t sum = 0;
    for (auto b : plain) sum = static_cast<std::uint8_t>(sum + b);
    if (plain.size() < 3 || sum != 0) return false;
    payload_.assign(plain.begin() + 2, plain.end() - 1);
    return true;
  }
  const std::vector<std::uint8_t>& Payload() const { return payload_; }

 private:
  bool open_ = false;
  std::vector<std::uint8_t> collected_;
  std::vector<std::uint8_t> payload_;
};

}  // namespace

AppRadio::AppRadio() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  path_ = name;
  termios raw{};
  ::tcgetattr(slave_, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave_, TCSANOW, &raw);
  thread_ = std::thread([this] { Run(); });
}

AppRadio::~AppRadio() {
  stop_ = true;
  thread_.join();
  ::close(slave_);
  ::close(master_);
}

void AppRadio::Answer(std::uint8_t group, std::uint8_t code, std::vector<std::uint8_t> payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[Key(group, code)] = std::move(payload);
}

void AppRadio::Forget(std::uint8_t group, std::uint8_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.erase(Key(group, code));
}

std::vector<std::vector<std::uint8_t>> AppRadio::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

int AppRadio::Count(std::uint8_t group, std::uint8_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(received_.begin(), received_.end(), [&](const auto& p) {
    return p.size() >= 2 && p[0] == group && p[1] == code;
  }));
}

bool AppRadio::WaitForFrames(std::size_t frames) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return frames_ >= frames; });
}

void AppRadio::AnswerVersionInfo(const std::uint8_t (&info)[23]) {
  const auto* d = info;
  Answer(0x04, 0x1C, {0x04, 0x1D, d[0], d[1]});
  Answer(0x04, 0x0B, {0x04, 0x0C, d[2], d[3], d[4]});
  Answer(0x04, 0x09, {0x04, 0x0A, d[5], d[6], d[7]});
  Answer(0x04, 0x07, {0x04, 0x08, d[8], d[9], d[10]});
  Answer(0x04, 0x04, {0x04, 0x05, d[11], d[12], d[13], d[14], d[15], d[16], d[17], d[18]});
  Answer(0x04, 0x2D, {0x04, 0x2E, d[19], d[20]});
  Answer(0x04, 0x3E, {0x04, 0x3F, d[21], d[22]});
}

void AppRadio::Send(const std::vector<std::uint8_t>& payload) {
  // A reply frame carries 0x7F as its second header byte.
  const auto frame =
      link::BuildFrame(payload.data(), static_cast<std::int32_t>(payload.size()), 0x01, 0x7F);
  std::size_t done = 0;
  while (done < frame.size()) {
    const auto n = ::write(master_, frame.data() + done, frame.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void AppRadio::Run() {
  CommandParser parser;
  std::vector<std::uint8_t> recent;  // the last bytes, to spot the raw probe frame
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
    std::uint8_t buffer[256];
    const auto n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t i = 0; i < n; ++i) {
      const std::uint8_t c = buffer[i];
      recent.push_back(c);
      if (recent.size() > sizeof kProbe) recent.erase(recent.begin());
      if (recent.size() == sizeof kProbe && std::equal(recent.begin(), recent.end(), kProbe)) {
        ++probes_;
        if (box_) Send({0x09, 0x02, 0x00, 0x00, 0x00, 0x00});
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++frames_;
        }
        arrived_.notify_all();
        continue;
      }
      if (!parser.Feed(c)) continue;
      const std::vector<std::uint8_t> payload = parser.Payload();
      std::vector<std::uint8_t> answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(payload);
        if (payload.size() >= 2) {
          const auto it = answers_.find(Key(payload[0], payload[1]));
          if (it != answers_.end()) answer = it->second;
        }
      }
      if (!answer.empty()) Send(answer);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++frames_;
      }
      arrived_.notify_all();
    }
  }
}

}  // namespace bcu::testing
