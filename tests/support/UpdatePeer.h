#pragma once
// A scripted radio on a pseudo-terminal for the codeplug transfer tests, and a
// PC-side link wired to it (clock, timer queue, pump, reply time-out timer).
//
// The radio side runs a test's script in its own thread: it reads the PC's
// frames as payloads (Next) and answers with payloads of its own (Send). Every
// payload either side exchanged is recorded for the test to look at.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/CommLink.h"
#include "platform/Clock.h"
#include "platform/PortTable.h"
#include "platform/Timer.h"
#include "platform/TimerPump.h"

namespace bcu::testsupport {

using Payload = std::vector<std::uint8_t>;

class UpdatePeer {
 public:
  UpdatePeer();
  ~UpdatePeer();
  UpdatePeer(const UpdatePeer&) = delete;
  UpdatePeer& operator=(const UpdatePeer&) = delete;

  // Path of the PC's end of the line.
  const std::string& DevicePath() const { return slavePath_; }

  // Starts the radio's script in its own thread.
  void Run(std::function<void(UpdatePeer&)> script);
  // Waits for the script to end.
  void Join();

  // Radio side: the next payload from the PC, or nothing after `ms` real
  // milliseconds.
  std::optional<Payload> Next(int ms = 3000);
  // Radio side: sends one framed payload.
  void Send(const Payload& payload);

  // Every payload the PC sent (in order), for checks after Join().
  std::vector<Payload> Received() const;

 private:
  void ReadInto(int ms);

  int master_ = -1;
  std::string slavePath_;
  std::thread thread_;
  std::deque<Payload> pending_;
  std::vector<Payload> all_;
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> collect_;
  bool inFrame_ = false;
};

// A PC-side link to an UpdatePeer: COM1 is the peer's device.
class UpdateLinkHost {
 public:
  explicit UpdateLinkHost(const std::string& devicePath, std::uint32_t timeoutMs = 2000);
  ~UpdateLinkHost();
  UpdateLinkHost(const UpdateLinkHost&) = delete;
  UpdateLinkHost& operator=(const UpdateLinkHost&) = delete;

  link::CommLink& Link() { return link_; }
  bool opened() const { return opened_; }
  // Runs on every pump pass (a test's Stop button).
  std::function<void()>& OnPump() { return pump_.onPump; }

 private:
  platform::SteadyClock clock_;
  platform::TimerQueue timers_;
  platform::TimerPump pump_;
  platform::PortTable ports_;
  std::unique_ptr<platform::Timer> commTimer_;
  link::CommLink link_;
  bool opened_ = false;
};

// Payload helpers.
Payload Group3(std::uint8_t code, const std::vector<std::uint8_t>& data = {});
bool Is(const Payload& p, std::uint8_t group, std::uint8_t code);

}  // namespace bcu::testsupport
