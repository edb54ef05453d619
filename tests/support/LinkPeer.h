#pragma once
// The far end of a serial line for tests: a pseudo-terminal pair whose slave
// side the code under test opens by path, and a thread on the master side
// that collects the frames it receives and answers each one per a script.
//
//   bcu::test::LinkPeer peer;
//   peer.Start([](const bcu::test::PeerFrame& f) -> bcu::test::PeerReplies {
//     if (f.Is(0x04, 0x1C)) return {bcu::test::LinkPeer::Frame({0x04, 0x1D, 5, 10})};
//     return {};
//   });
//   host.ports.SetDevicePath(1, peer.DevicePath());
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bcu::test {

// A frame the peer received: its two header bytes and its payload.
struct PeerFrame {
  std::uint8_t header1 = 0;
  std::uint8_t header2 = 0;
  std::vector<std::uint8_t> payload;
  bool Is(std::uint8_t group, std::uint8_t code) const {
    return payload.size() >= 2 && payload[0] == group && payload[1] == code;
  }
};

// Byte strings the peer writes back, in order, as they stand.
using PeerReplies = std::vector<std::vector<std::uint8_t>>;
using PeerScript = std::function<PeerReplies(const PeerFrame&)>;

class LinkPeer {
 public:
  LinkPeer();
  ~LinkPeer();
  LinkPeer(const LinkPeer&) = delete;
  LinkPeer& operator=(const LinkPeer&) = delete;

  // The slave device's path, for a PortTable or OpenPort.
  const std::string& DevicePath() const { return path_; }
  bool Ok() const { return master_ >= 0; }

  // Starts answering: the script runs on the peer's thread for every frame
  // with a good checksum (header 7F xx). Null: only collect.
  void Start(PeerScript script = nullptr);
  // Stops the thread (the line stays).
  void Stop();
  // Writes bytes to the line now (from any thread); gives up when the line
  // stays full for 100 ms.
  void Send(const std::vector<std::uint8_t>& bytes);
  // Pulls the plug: stops the thread and closes the master side.
  void Unplug();

  // A reply frame as a radio sends it: 0xBA, 0x01, 0x7F, payload, checksum.
  static std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& payload);

  // Everything received so far.
  std::vector<PeerFrame> Frames();
  std::vector<std::uint8_t> RawBytes();
  // Blocks (real time) until `n` frames have come or `ms` passed.
  bool WaitForFrames(std::size_t n, int ms = 2000);

 private:
  void Run();
  void Feed(std::uint8_t b);

  int master_ = -1;
  int holder_ = -1;  // keeps the slave side alive between opens
  std::string path_;
  PeerScript script_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<PeerFrame> frames_;
  std::vector<std::uint8_t> raw_;
  std::vector<std::uint8_t> collect_;
  bool collecting_ = false;
};

}  // namespace bcu::test
