#include "support/FakeSerialDriver.h"

#include <algorithm>
#include <chrono>

#include "platform/Clock.h"

namespace bcu::test {

void FakeSerialDriver::Log(const std::string& call) {
  calls_.push_back(call);
}

bool FakeSerialDriver::Rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}

bool FakeSerialDriver::Dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}

std::vector<FakeSerialDriver::LineChange> FakeSerialDriver::LineChanges() const {
  std::lock_guard lock(mutex_);
  return changes_;
}

FakeSerialDriver::Calls FakeSerialDriver::CallLog() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int FakeSerialDriver::Count(const std::string& call) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

int FakeSerialDriver::DrainsEndedByDiscard() const {
  std::lock_guard lock(mutex_);
  return drainsEndedByDiscard_;
}

bool FakeSerialDriver::Rs485Enabled() const {
  std::lock_guard lock(mutex_);
  return (rs485_.flags & platform::kRs485Enabled) != 0;
}

int FakeSerialDriver::PriorityRaises() const {
  std::lock_guard lock(mutex_);
  return raises_;
}

std::string FakeSerialDriver::LockFolder() const {
  return lockFolder.empty() ? SerialDriver::LockFolder() : lockFolder;
}

int FakeSerialDriver::OutputQueued(platform::SerialHandle fd) {
  {
    std::lock_guard lock(mutex_);
    if (stuckOutput > 0) return stuckOutput;
  }
  return SerialDriver::OutputQueued(fd);
}

std::uint64_t FakeSerialDriver::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void FakeSerialDriver::PeerTook(std::size_t n) {
  std::lock_guard lock(mutex_);
  taken_ += n;
}

std::ptrdiff_t FakeSerialDriver::Write(platform::SerialHandle fd, const void* data, std::size_t n) {
  const std::ptrdiff_t done = SerialDriver::Write(fd, data, n);
  if (done > 0) {
    std::lock_guard lock(mutex_);
    written_ += static_cast<std::uint64_t>(done);
  }
  return done;
}

platform::SerialTransmitter FakeSerialDriver::Transmitter(platform::SerialHandle fd) {
  if (!transmitterBit) return SerialDriver::Transmitter(fd);
  std::lock_guard lock(mutex_);
  if (stuckOutput > 0 || taken_ < written_) return platform::SerialTransmitter::Sending;
  return platform::SerialTransmitter::Empty;
}

bool FakeSerialDriver::WaitSent(platform::SerialHandle fd) {
  std::unique_lock lock(mutex_);
  Log("wait-sent");
  if (!drainBlocks) {
    lock.unlock();
    return SerialDriver::WaitSent(fd);
  }
  const std::uint64_t before = discards_;
  const bool discarded = discarded_.wait_for(lock, std::chrono::milliseconds(drainBlockMs),
                                             [&] { return discards_ != before; });
  if (discarded) ++drainsEndedByDiscard_;
  return discarded;
}

void FakeSerialDriver::Discard(platform::SerialHandle fd, bool input, bool output) {
  {
    std::lock_guard lock(mutex_);
    if (output) {
      Log("discard-out");
      stuckOutput = 0;
      ++discards_;
      discarded_.notify_all();
    }
    if (input) Log("discard-in");
  }
  SerialDriver::Discard(fd, input, output);
}

bool FakeSerialDriver::GetModemLines(platform::SerialHandle fd, int& bits) {
  if (!modemLines) return SerialDriver::GetModemLines(fd, bits);
  std::lock_guard lock(mutex_);
  bits = (rts_ ? platform::kSerialLineRts : 0) | (dtr_ ? platform::kSerialLineDtr : 0);
  return true;
}

bool FakeSerialDriver::SetModemLines(platform::SerialHandle fd, int bits, bool on) {
  if (!modemLines) return SerialDriver::SetModemLines(fd, bits, on);
  std::lock_guard lock(mutex_);
  const std::uint64_t now = platform::RealMicros();
  if (bits & platform::kSerialLineRts) {
    rts_ = on;
    changes_.push_back({platform::kSerialLineRts, on, now});
  }
  if (bits & platform::kSerialLineDtr) {
    dtr_ = on;
    changes_.push_back({platform::kSerialLineDtr, on, now});
  }
  return true;
}

bool FakeSerialDriver::GetRs485(platform::SerialHandle fd, platform::SerialRs485& conf) {
  if (!kernelRs485) return SerialDriver::GetRs485(fd, conf);
  std::lock_guard lock(mutex_);
  conf = rs485_;
  return true;
}

bool FakeSerialDriver::SetRs485(platform::SerialHandle fd, const platform::SerialRs485& conf) {
  if (!kernelRs485) return SerialDriver::SetRs485(fd, conf);
  std::lock_guard lock(mutex_);
  rs485_ = conf;
  Log((conf.flags & platform::kRs485Enabled) ? "rs485-on" : "rs485-off");
  return true;
}

int FakeSerialDriver::RaiseThreadPriority(int& previous) {
  {
    std::lock_guard lock(mutex_);
    ++raises_;
    if (refusePriority != 0) return refusePriority;
  }
  previous = 0;
  return 0;  // granted, without touching the test's own threads
}

void FakeSerialDriver::RestoreThreadPriority(int) {}

platform::SerialPriorityGrant FakeSerialDriver::RaiseExchangePriority() {
  std::lock_guard lock(mutex_);
  ++exchangeRaises_;
  platform::SerialPriorityGrant grant;
  if (refuseExchangePriority != 0)
    grant.error = refuseExchangePriority;
  else
    grant.kind = platform::SerialPriority::Nice;  // granted, without touching the test's thread
  return grant;
}

void FakeSerialDriver::RestoreExchangePriority(const platform::SerialPriorityGrant&) {
  std::lock_guard lock(mutex_);
  ++exchangeRestores_;
}

int FakeSerialDriver::ExchangeRaises() const {
  std::lock_guard lock(mutex_);
  return exchangeRaises_;
}

int FakeSerialDriver::ExchangeRestores() const {
  std::lock_guard lock(mutex_);
  return exchangeRestores_;
}

int FakeSerialDriver::Close(platform::SerialHandle fd) {
  {
    std::lock_guard lock(mutex_);
    Log("close");
  }
  return SerialDriver::Close(fd);
}

}  // namespace bcu::test
