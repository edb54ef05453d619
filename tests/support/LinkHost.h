#pragma once
// What a test needs to run the radio link without a window: a clock (the
// system's, optionally scaled, or a manual one), a timer queue with a pump
// that polls it, and the comm timer whose handler ends a wait the way the
// window's does (running false, timer disabled), all wired into a CommLink.
//
//   bcu::test::LinkHost host;                      // real time
//   host.ports.SetDevicePath(1, peer.DevicePath());
//   ASSERT_TRUE(host.OpenSerial(1));               // framed, running
//   bcu::link::CommSetTimeout(host.link, 500);
#include <cstdint>
#include <memory>
#include <string>

#include "link/CommLink.h"
#include "platform/Clock.h"
#include "platform/PortTable.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::test {

class LinkHost {
 public:
  // The system clock; scale s: one clock millisecond lasts s real ones. The
  // link's reply time-outs are shortened by the same factor (never below
  // link::kCommShortestTimeoutMs).
  explicit LinkHost(double scale = 1.0);
  // Any clock (a ManualClock: see AdvancePerPump).
  explicit LinkHost(std::unique_ptr<platform::Clock> clock);
  ~LinkHost();  // closes the link
  LinkHost(const LinkHost&) = delete;
  LinkHost& operator=(const LinkHost&) = delete;

  platform::Clock& Clock() { return *clock_; }
  // The manual clock, or null when the host runs on the system clock.
  platform::ManualClock* Manual() { return manual_; }
  // With a manual clock: every pump moves it on by `ms`.
  void AdvancePerPump(std::uint64_t ms);

  // Opens the serial device transport on port n (path from `ports`), framed
  // and running, as the window does. False with the link's error text.
  bool OpenSerial(int n, std::string* errorText = nullptr);
  // How often the comm timer ended a wait.
  int TimeoutsFired() const { return timeoutsFired_; }

 private:
  std::unique_ptr<platform::Clock> clock_;
  platform::ManualClock* manual_ = nullptr;

 public:
  platform::TimerQueue timers;
  platform::TimerPump pump;
  std::unique_ptr<platform::Timer> commTimer;
  platform::PortTable ports;
  link::CommLink link;

 private:
  int timeoutsFired_ = 0;
};

}  // namespace bcu::test
