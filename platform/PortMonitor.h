#pragma once
// Serial ports coming and going while a program runs (a USB adapter plugged
// in or pulled). The system's monitor listens to udev; tests hand in events
// of their own (pseudo-terminals of virtual radios).
#include <memory>
#include <string>

namespace bcu::platform {

struct PortEvent {
  enum class Kind { Added, Removed };
  Kind kind = Kind::Added;
  std::string path;  // the device node, /dev/ttyUSB0
};

class PortMonitor {
 public:
  virtual ~PortMonitor() = default;
  // Waits up to `timeoutMs` for the next event. False when none came.
  virtual bool Next(PortEvent& event, int timeoutMs) = 0;
};

// USB serial adapters and CDC-ACM devices (ttyUSB*, ttyACM*) as udev
// announces them once its rules have run (the device node exists and has its
// owner and mode).
class UdevPortMonitor final : public PortMonitor {
 public:
  UdevPortMonitor();
  ~UdevPortMonitor() override;
  UdevPortMonitor(const UdevPortMonitor&) = delete;
  UdevPortMonitor& operator=(const UdevPortMonitor&) = delete;
  // Starts listening. False with `error` when udev cannot be reached.
  bool Start(std::string& error);
  bool Next(PortEvent& event, int timeoutMs) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bcu::platform
