#pragma once
// A host timer of the Windows window: SetTimer on the window, its handler run
// from the window's WM_TIMER (so from any message loop, modal ones included).
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>

#include "platform/Clock.h"
#include "platform/Timer.h"

namespace bcu::win32 {

class Win32HostTimer;

// The window's timers by identifier; WM_TIMER asks it which handler to run.
class TimerTable {
 public:
  explicit TimerTable(HWND window) : window_(window) {}
  HWND Window() const { return window_; }
  UINT_PTR Add(Win32HostTimer* timer);
  void Remove(UINT_PTR id);
  // Runs the handler of timer `id`; false when no such timer is alive.
  bool Fire(UINT_PTR id);

 private:
  HWND window_;
  UINT_PTR next_ = 1000;
  std::map<UINT_PTR, Win32HostTimer*> timers_;
};

class Win32HostTimer final : public platform::Timer {
 public:
  Win32HostTimer(TimerTable& table, platform::Clock& clock, platform::TimerHandler handler);
  ~Win32HostTimer() override;
  void SetInterval(std::uint32_t ms) override;
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override;
  bool Enabled() const override { return enabled_; }
  void Fire();

 private:
  void Arm();
  TimerTable& table_;
  platform::Clock& clock_;
  platform::TimerHandler handler_;
  UINT_PTR id_;
  std::uint32_t interval_ = 1000;
  bool enabled_ = false;
};

}  // namespace bcu::win32
