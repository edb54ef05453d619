#pragma once
// A scripted radio on a pseudo-terminal for the window-logic tests: it answers
// framed commands by their two-byte code from a table the test fills, can
// play the USB interface box, and records every frame it received.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bcu::testing {

class AppRadio {
 public:
  AppRadio();
  ~AppRadio();
  AppRadio(const AppRadio&) = delete;
  AppRadio& operator=(const AppRadio&) = delete;

  // The device path the updater opens.
  const std::string& Path() const { return path_; }
  // Answers command (group, code) with `payload` (code bytes included).
  void Answer(std::uint8_t group, std::uint8_t code, std::vector<std::uint8_t> payload);
  void Forget(std::uint8_t group, std::uint8_t code);
  // Answers the interface-box probe (a 6-byte 09 02 reply).
  void SetBox(bool present) { box_ = present; }
  // Payloads of every good frame received, in order.
  std::vector<std::vector<std::uint8_t>> Received() const;
  // Number of received frames whose payload starts with (group, code).
  int Count(std::uint8_t group, std::uint8_t code) const;
  int ProbesSeen() const { return probes_; }
  // Blocks until `frames` frames (probes included) have come in, or 5 s
  // passed; returns whether they came. The updater's writes reach the radio
  // thread some time after the call that made them returned.
  bool WaitForFrames(std::size_t frames) const;

  // Fills the answers to the version information requests from a 23-byte
  // record (boot and SEM replies included).
  void AnswerVersionInfo(const std::uint8_t (&info)[23]);

 private:
  void Run();
  void Send(const std::vector<std::uint8_t>& payload);

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> box_{false};
  std::atomic<int> probes_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::size_t frames_ = 0;  // frames and probes seen
  std::map<std::uint16_t, std::vector<std::uint8_t>> answers_;
  std::vector<std::vector<std::uint8_t>> received_;
  std::thread thread_;
};

}  // namespace bcu::testing
