#include "app/win32/Win32HostTimer.h"

#include <algorithm>

namespace bcu::win32 {

UINT_PTR TimerTable::Add(Win32HostTimer* timer) {
  const UINT_PTR id = next_++;
  timers_[id] = timer;
  return id;
}

void TimerTable::Remove(UINT_PTR id) {
  timers_.erase(id);
  ::KillTimer(window_, id);
}

bool TimerTable::Fire(UINT_PTR id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  it->second->Fire();
  return true;
}

Win32HostTimer::Win32HostTimer(TimerTable& table, platform::Clock& clock,
                               platform::TimerHandler handler)
    : table_(table), clock_(clock), handler_(std::move(handler)), id_(table.Add(this)) {}

Win32HostTimer::~Win32HostTimer() {
  table_.Remove(id_);
}

void Win32HostTimer::Arm() {
  // SetTimer on a running timer starts its count afresh, as the host timer
  // contract asks of a new interval and of enabling.
  const UINT real = std::max<UINT>(USER_TIMER_MINIMUM, clock_.RealMs(interval_));
  ::SetTimer(table_.Window(), id_, real, nullptr);
}

void Win32HostTimer::SetInterval(std::uint32_t ms) {
  interval_ = ms;
  if (enabled_) Arm();
}

void Win32HostTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (enabled) {
    Arm();
  } else {
    ::KillTimer(table_.Window(), id_);
  }
}

void Win32HostTimer::Fire() {
  // A WM_TIMER already queued when the timer was stopped is dropped.
  if (enabled_ && handler_) handler_();
}

}  // namespace bcu::win32
