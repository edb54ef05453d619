#pragma once
// Serves a VirtualRadio on the master side of a pseudo-terminal, in a thread of
// its own: the updater opens DevicePath() as if a radio hung on a serial port.
// The thread blocks in poll() on the master and a wake-up descriptor for at
// most the time until the radio's next event, so an idle radio costs nothing.
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "sim/RadioConfig.h"
#include "sim/VirtualRadio.h"

namespace bcu::sim {

// How late the server's timed wake-ups came (a reply or a phase end falling
// due), in real time: what the machine's load costs the radio.
struct PtyRadioLateness {
  std::uint64_t wakes = 0;
  std::uint64_t maxLateUs = 0;
  std::uint64_t over1ms = 0;
  std::uint64_t over10ms = 0;
  std::uint64_t over100ms = 0;
};

class PtyRadio {
 public:
  // timeScale: real ms per clock ms of the radio's clock (0.01 makes a 20 s
  // restart last 0.2 s). Throws as VirtualRadio does.
  explicit PtyRadio(RadioConfig config, double timeScale = 1.0);
  ~PtyRadio();
  PtyRadio(const PtyRadio&) = delete;
  PtyRadio& operator=(const PtyRadio&) = delete;

  // Opens the pseudo-terminal (and the symbolic link, when set) and starts
  // serving. False with a reason on failure.
  bool Start(std::string* error);
  // Makes `linkPath` a symbolic link to the device while serving (call before
  // Start; an existing link there is replaced, and removed by Stop).
  void SetSymlink(std::string linkPath) { symlink_ = std::move(linkPath); }
  // The slave device the updater opens, e.g. /dev/pts/7.
  const std::string& DevicePath() const { return devicePath_; }
  // Stops serving and closes the pseudo-terminal. Safe to call twice.
  void Stop();
  // True once the line was dropped (fault) or the server stopped.
  bool LineClosed() const;

  PtyRadioLateness Lateness() const;

  // From now on, keeps the real time (platform::RealMicros) at which each
  // frame's end marker was handed to the line: when the last byte of a reply
  // was on it. Off by default.
  void RecordFrameEnds(bool on);
  std::vector<std::uint64_t> FrameEndTimes() const;

  // Runs f(VirtualRadio&) under the server's lock and returns its result.
  template <class F>
  auto With(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    WakeOnExit wake{this};  // the server re-reads the radio's next event
    return std::forward<F>(f)(*radio_);
  }

 private:
  struct WakeOnExit {
    PtyRadio* self;
    ~WakeOnExit() { self->Wake(); }
  };
  void Serve();
  void Wake();

  platform::SteadyClock clock_;
  std::unique_ptr<VirtualRadio> radio_;
  mutable std::mutex mutex_;
  std::thread thread_;
  std::string devicePath_;
  std::string symlink_;
  int master_ = -1;
  int slaveHold_ = -1;  // keeps the line up while no updater has it open
  int wakeFd_ = -1;
  bool stopping_ = false;
  bool closed_ = false;
  PtyRadioLateness lateness_;
  bool recordFrameEnds_ = false;
  std::vector<std::uint64_t> frameEnds_;
};

}  // namespace bcu::sim
