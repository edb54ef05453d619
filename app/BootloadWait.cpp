// Waiting for a radio to come back in bootload mode after its boot code was
// updated: a radio restarting is silent, and once the technician has put it
// back into bootload mode it answers the boot information request again.
#include <chrono>
#include <thread>

#include "app/CodeUpdater.h"
#include "link/CommLink.h"
#include "platform/Clock.h"

namespace bcu::app {

namespace {

// One boot information request about every second; each waits up to this
// long for its answer.
constexpr std::uint32_t kPollPeriodMs = 1000;
constexpr auto kNap = std::chrono::milliseconds(5);

std::uint64_t RealMsNow() {
  return platform::RealMicros() / 1000;
}

}  // namespace

BootloadWaitResult CodeUpdater::WaitForBootloadMode(
    std::uint32_t limitMs, const std::function<void(std::uint32_t)>& onPoll) {
  const std::uint64_t start = RealMsNow();
  link::CommPacket request, bootReply, notAvailable;
  link::CommMakeCommand(request, link::kKeyBootInfo, true);
  link::CommMakeCommand(bootReply, link::kKeyBootInfoReply, true);
  link::CommMakeCommand(notAvailable, link::kKeyNotAvailable, true);
  const int bootLen = link::CommReplyLength(link::kKeyBootInfoReply, true);
  const int notAvailableLen = link::CommReplyLength(link::kKeyNotAvailable, true);
  const auto stopped = [this] { return StopRequested() || m_Host.QuitRequested(); };

  for (;;) {
    if (stopped()) return BootloadWaitResult::Stopped;
    const std::uint64_t pollStart = RealMsNow();
    const std::uint64_t waited = pollStart - start;
    if (waited >= limitMs) return BootloadWaitResult::TimedOut;
    if (onPoll) onPoll(static_cast<std::uint32_t>(waited));

    link::CommSetTimeout(m_Link, kPollPeriodMs);
    // The last poll's time-out left the link stopped.
    link::CommSetRunning(m_Link, true);
    link::CommSendPacket(m_Link, request);
    bool gotNotAvailable = false;
    const link::CommPacket reply = link::CommWaitReply(
        m_Link, bootReply, bootLen, false, notAvailable, notAvailableLen, gotNotAvailable);
    const int result = link::CommGetResult(m_Link);
    link::CommEndExchange(m_Link);
    if (result == link::kCommSuccess && reply.length > 0 && !gotNotAvailable) {
      return BootloadWaitResult::Ready;
    }
    // No answer, or not this one yet: ask again once the second is over.
    while (!stopped() && RealMsNow() - pollStart < kPollPeriodMs) {
      m_Host.Pump();
      std::this_thread::sleep_for(kNap);
    }
  }
}

}  // namespace bcu::app
