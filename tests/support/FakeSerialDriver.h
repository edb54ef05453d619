#pragma once
// A serial driver for tests: the system's calls on a pseudo-terminal, with
// the answers a pseudo-terminal cannot give switched in on demand: modem
// lines (RTS and DTR are recorded, with the time of every change), a driver
// that switches RS-485 itself, an adapter whose output never drains, a
// drain that blocks until the output is discarded, a refused priority raise
// and a lock-file folder of the test's own.
//
// Safe to call from the port's threads while the test reads it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SerialDriver.h"

namespace bcu::test {

class FakeSerialDriver : public platform::SerialDriver {
 public:
  // One change of a modem line: which (platform::kSerialLineRts or kSerialLineDtr), to what, when
  // (platform::RealMicros).
  struct LineChange {
    int line;
    bool on;
    std::uint64_t atUs;
  };
  // A call the port made, in order ("discard-out", "close", "wait-sent", ...).
  using Calls = std::vector<std::string>;

  // ---- What the fake pretends (set before the port opens) ----
  std::string lockFolder;    // empty: the system's
  bool modemLines = false;   // RTS and DTR exist (both on after open, as Linux leaves them)
  bool kernelRs485 = false;  // TIOCSRS485 is accepted
  // These three may also change while the port is open.
  std::atomic<int> stuckOutput{0};       // bytes the driver reports queued until a discard
  std::atomic<bool> drainBlocks{false};  // WaitSent blocks until the output is discarded ...
  std::atomic<int> drainBlockMs{3000};   // ... or this long has passed
  int refusePriority = 0;                // errno for a refused priority raise; 0: granted
  int refuseExchangePriority = 0;        // the same for an exchange's raise
  // The driver has a transmitter-empty bit: Empty once the far end has taken
  // (PeerTook) every byte written.
  bool transmitterBit = false;

  // The far end has read `n` more bytes.
  void PeerTook(std::size_t n);
  // Bytes the port has written.
  std::uint64_t Written() const;

  // ---- What the port did ----
  bool Rts() const;
  bool Dtr() const;
  std::vector<LineChange> LineChanges() const;
  Calls CallLog() const;
  int Count(const std::string& call) const;
  // WaitSent calls that ended because the output was discarded.
  int DrainsEndedByDiscard() const;
  bool Rs485Enabled() const;
  int PriorityRaises() const;
  // Exchange raises asked for, and restores of granted ones.
  int ExchangeRaises() const;
  int ExchangeRestores() const;

  // ---- The driver ----
  std::string LockFolder() const override;
  std::ptrdiff_t Write(platform::SerialHandle fd, const void* data, std::size_t n) override;
  int OutputQueued(platform::SerialHandle fd) override;
  platform::SerialTransmitter Transmitter(platform::SerialHandle fd) override;
  bool WaitSent(platform::SerialHandle fd) override;
  void Discard(platform::SerialHandle fd, bool input, bool output) override;
  bool GetModemLines(platform::SerialHandle fd, int& bits) override;
  bool SetModemLines(platform::SerialHandle fd, int bits, bool on) override;
  bool GetRs485(platform::SerialHandle fd, platform::SerialRs485& conf) override;
  bool SetRs485(platform::SerialHandle fd, const platform::SerialRs485& conf) override;
  int RaiseThreadPriority(int& previous) override;
  void RestoreThreadPriority(int previous) override;
  platform::SerialPriorityGrant RaiseExchangePriority() override;
  void RestoreExchangePriority(const platform::SerialPriorityGrant& grant) override;
  int Close(platform::SerialHandle fd) override;

 private:
  void Log(const std::string& call);

  mutable std::mutex mutex_;
  std::condition_variable discarded_;
  std::uint64_t discards_ = 0;
  bool rts_ = true;
  bool dtr_ = true;
  platform::SerialRs485 rs485_{};
  std::vector<LineChange> changes_;
  Calls calls_;
  int drainsEndedByDiscard_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t taken_ = 0;
  int raises_ = 0;
  int exchangeRaises_ = 0;
  int exchangeRestores_ = 0;
};

}  // namespace bcu::test
