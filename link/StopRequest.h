#pragma once
// A request to stop the operation a link serves (an update run, a Retrieve, a
// command-line transfer).
//
// The owner of the operation requests it (the Stop button, a confirmed close,
// Ctrl-C); every layer below reads it and none can withdraw it: the link
// refuses to arm its running flag while a stop is requested, so no wait that
// starts after the request can run, and each step asks it before it sends
// anything that writes or transfers. Only the owner resets it, when it starts
// its next operation. The flag is atomic, so a controller on another thread
// may request a stop as well.
#include <atomic>

namespace bcu::link {

class StopRequest {
 public:
  void Request() noexcept { requested_.store(true, std::memory_order_release); }
  bool Requested() const noexcept { return requested_.load(std::memory_order_acquire); }
  // The owner only, before it starts its next operation.
  void Reset() noexcept { requested_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> requested_{false};
};

}  // namespace bcu::link
