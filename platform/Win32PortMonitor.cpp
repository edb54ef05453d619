// Windows: the port list looked at once a second (a device-change
// notification needs a window; a console program has none to spare), and
// what came or went reported as events.
#include <windows.h>

#include <chrono>
#include <deque>
#include <set>
#include <thread>

#include "platform/PortDiscovery.h"
#include "platform/PortMonitor.h"

namespace bcu::platform {

namespace {

constexpr std::uint64_t kRescanMs = 1000;

std::uint64_t NowMs() {
  return ::GetTickCount64();
}

}  // namespace

struct SystemPortMonitor::Impl {
  SystemPortDiscovery discovery;
  std::set<std::string> known;
  std::deque<PortEvent> pending;
  std::uint64_t nextScanMs = 0;
  bool started = false;

  std::set<std::string> Scan() {
    std::vector<SerialDeviceInfo> devices;
    std::set<std::string> paths;
    if (discovery.ListDevices(devices))
      for (const auto& d : devices) paths.insert(d.path);
    return paths;
  }
};

SystemPortMonitor::SystemPortMonitor() : impl_(std::make_unique<Impl>()) {}

SystemPortMonitor::~SystemPortMonitor() = default;

bool SystemPortMonitor::Start(std::string&) {
  impl_->known = impl_->Scan();
  impl_->nextScanMs = NowMs() + kRescanMs;
  impl_->started = true;
  return true;
}

bool SystemPortMonitor::Next(PortEvent& event, int timeoutMs) {
  if (!impl_->started) return false;
  const std::uint64_t end = NowMs() + static_cast<std::uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (!impl_->pending.empty()) {
      event = impl_->pending.front();
      impl_->pending.pop_front();
      return true;
    }
    const std::uint64_t now = NowMs();
    if (now >= impl_->nextScanMs) {
      const std::set<std::string> now_ = impl_->Scan();
      for (const auto& p : now_)
        if (!impl_->known.count(p)) impl_->pending.push_back({PortEvent::Kind::Added, p});
      for (const auto& p : impl_->known)
        if (!now_.count(p)) impl_->pending.push_back({PortEvent::Kind::Removed, p});
      impl_->known = now_;
      impl_->nextScanMs = now + kRescanMs;
      continue;
    }
    if (now >= end) return false;
    const std::uint64_t wait = std::min(end, impl_->nextScanMs) - now;
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  }
}

}  // namespace bcu::platform
