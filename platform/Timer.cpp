#include "platform/Timer.h"

#include <algorithm>

namespace bcu::platform {

class TimerQueue::QueuedTimer final : public Timer {
 public:
  QueuedTimer(TimerQueue* queue, TimerHandler handler)
      : queue_(queue), handler_(std::move(handler)) {
    queue_->timers_.push_back(this);
  }
  ~QueuedTimer() override {
    if (queue_) {
      auto& v = queue_->timers_;
      v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
  }
  void SetInterval(std::uint32_t ms) override {
    interval_ = ms;
    Restart();
  }
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    enabled_ = enabled;
    if (enabled) Restart();
  }
  bool Enabled() const override { return enabled_; }

  void Restart() {
    if (queue_) due_ = queue_->clock_.NowMs() + interval_;
  }
  bool Due(std::uint64_t now) const { return enabled_ && now >= due_; }
  std::uint64_t DueAt() const { return due_; }
  void Fire(std::uint64_t now) {
    due_ = now + interval_;
    if (handler_) handler_();
  }
  void Detach() { queue_ = nullptr; }

 private:
  TimerQueue* queue_;
  TimerHandler handler_;
  std::uint32_t interval_ = 0;
  bool enabled_ = false;
  std::uint64_t due_ = 0;
};

TimerQueue::TimerQueue(Clock& clock) : clock_(clock) {}

TimerQueue::~TimerQueue() {
  for (auto* t : timers_) t->Detach();
}

std::unique_ptr<Timer> TimerQueue::Create(TimerHandler handler) {
  return std::make_unique<QueuedTimer>(this, std::move(handler));
}

void TimerQueue::Poll() {
  std::uint64_t now = clock_.NowMs();
  // A handler may enable, disable or destroy timers: collect first, then check
  // each one again before it fires.
  std::vector<QueuedTimer*> due;
  for (auto* t : timers_)
    if (t->Due(now)) due.push_back(t);
  for (auto* t : due) {
    if (std::find(timers_.begin(), timers_.end(), t) == timers_.end()) continue;
    if (t->Due(now)) t->Fire(now);
  }
}

std::int64_t TimerQueue::MsUntilNext() {
  std::uint64_t now = clock_.NowMs();
  std::int64_t best = -1;
  for (auto* t : timers_) {
    if (!t->Enabled()) continue;
    std::int64_t left = t->DueAt() > now ? static_cast<std::int64_t>(t->DueAt() - now) : 0;
    if (best < 0 || left < best) best = left;
  }
  return best;
}

}  // namespace bcu::platform
