#pragma once
// Serial ports coming and going while a program runs (a USB adapter plugged
// in or pulled). The system's monitor listens to udev on Linux and looks at
// the port list once a second on Windows; tests hand in events of their own
// (pseudo-terminals of virtual radios).
#include <memory>
#include <string>

namespace bcu::platform {

struct PortEvent {
  enum class Kind { Added, Removed };
  Kind kind = Kind::Added;
  std::string path;  // the device node, /dev/ttyUSB0 (\\.\COM5 on Windows)
};

class PortMonitor {
 public:
  virtual ~PortMonitor() = default;
  // Waits up to `timeoutMs` for the next event. False when none came.
  virtual bool Next(PortEvent& event, int timeoutMs) = 0;
};

// On Linux: USB serial adapters and CDC-ACM devices (ttyUSB*, ttyACM*) as
// udev announces them once its rules have run (the device node exists and
// has its owner and mode). On Windows: every COM port that appears in or
// leaves the system's port list.
class SystemPortMonitor final : public PortMonitor {
 public:
  SystemPortMonitor();
  ~SystemPortMonitor() override;
  SystemPortMonitor(const SystemPortMonitor&) = delete;
  SystemPortMonitor& operator=(const SystemPortMonitor&) = delete;
  // Starts listening. False with `error` when the system cannot tell.
  bool Start(std::string& error);
  bool Next(PortEvent& event, int timeoutMs) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bcu::platform
