#include "support/LinkHost.h"

namespace bcu::test {

LinkHost::LinkHost(double scale) : LinkHost(std::make_unique<platform::SteadyClock>(scale)) {
  // A test that runs the clock fast asks for short reply time-outs as well;
  // the link keeps them above what a busy machine meets.
  link.replyTimeoutScale = scale;
}

LinkHost::LinkHost(std::unique_ptr<platform::Clock> clock)
    : clock_(std::move(clock)),
      manual_(dynamic_cast<platform::ManualClock*>(clock_.get())),
      timers(*clock_),
      pump(timers) {
  link::CommInitLink(link);
  link.pump = &pump;
  link.clock = clock_.get();
  link.ports = &ports;
  commTimer = timers.Create([this] {
    ++timeoutsFired_;
    link::CommSetRunning(link, false);
    commTimer->SetEnabled(false);
  });
  link.timeoutTimer = commTimer.get();
}

LinkHost::~LinkHost() {
  link::CommCloseLink(link);
  link.timeoutTimer = nullptr;
}

void LinkHost::AdvancePerPump(std::uint64_t ms) {
  if (manual_ == nullptr) return;
  platform::ManualClock* clock = manual_;
  pump.onPump = [clock, ms] { clock->Advance(ms); };
}

bool LinkHost::OpenSerial(int n, std::string* errorText) {
  std::string text;
  if (!link::CommOpenSerialDevice(link, n, 19200, 0, text)) {
    if (errorText) *errorText = text;
    return false;
  }
  link::CommSetFramed(link, true);
  link::CommSetRunning(link, true);
  return true;
}

}  // namespace bcu::test
