#pragma once
// A request to stop the operation a link serves (an update run, a Retrieve, a
// command-line transfer), at one of two levels.
//
// After the step (the first Stop, Ctrl-C, confirmed close): the operation
// stops at its next safe point. The link's waits go on, so a step that must
// not be cut (the boot code, a codeplug upload, download or read-back) runs
// to its end; a step that may be cut (the loader, the application code) stops
// at its next block; each step asks before it starts anything that writes or
// transfers. At once (the second stop): the wait in progress ends, and the
// link refuses to arm its running flag, so no wait that starts afterwards can
// run.
//
// Every layer below reads the request and none can withdraw it; only the
// owner resets it, when it starts its next operation. The level is atomic, so
// a controller on another thread may request a stop as well.
#include <atomic>

namespace bcu::link {

class StopRequest {
 public:
  // Stop at the next safe point; a request at once stays at once.
  void RequestAfterStep() noexcept {
    int expected = kNone;
    level_.compare_exchange_strong(expected, kAfterStep, std::memory_order_acq_rel);
  }
  // Stop at once.
  void Request() noexcept { level_.store(kAtOnce, std::memory_order_release); }
  // Either level.
  bool Requested() const noexcept { return level_.load(std::memory_order_acquire) != kNone; }
  bool AtOnce() const noexcept { return level_.load(std::memory_order_acquire) == kAtOnce; }
  // The owner only, before it starts its next operation.
  void Reset() noexcept { level_.store(kNone, std::memory_order_release); }

 private:
  static constexpr int kNone = 0, kAfterStep = 1, kAtOnce = 2;
  std::atomic<int> level_{kNone};
};

}  // namespace bcu::link
