#include "link/ScpDispatcher.h"

#include <chrono>

#include "link/ScpComPort.h"

namespace bcu::link {

TScpBaseDispatcher::TScpBaseDispatcher(std::size_t outSize)
    : rxRing_(kScpReceiveRingSize), outRing_(outSize) {}

bool TScpBaseDispatcher::CharReady() {
  std::lock_guard lock(rxMutex_);
  return !rxRing_.Empty();
}

bool TScpBaseDispatcher::GetChar(std::uint8_t& byte) {
  std::lock_guard lock(rxMutex_);
  const bool wasFull = rxRing_.Full();
  if (!rxRing_.Get(byte)) return false;
  if (wasFull) rxSpaceCv_.notify_one();
  return true;
}

bool TScpBaseDispatcher::WaitCharReady(std::uint32_t realMs) {
  std::unique_lock lock(rxMutex_);
  rxCv_.wait_for(lock, std::chrono::milliseconds(realMs),
                 [this] { return !rxRing_.Empty() || lost_.load(); });
  return !rxRing_.Empty();
}

void TScpBaseDispatcher::FlushIn() {
  // The reader reads under this lock, so no byte read before the purge can
  // land in the ring after it.
  std::lock_guard lock(rxMutex_);
  rxRing_.Clear();
  PurgeSystemInput();
  rxSpaceCv_.notify_one();
}

TScpBaseDispatcher::PutResult TScpBaseDispatcher::PutBlock(const std::uint8_t* data,
                                                           std::size_t n) {
  std::lock_guard lock(outMutex_);
  if (lost_.load()) return PutResult::Lost;
  if (!outRing_.Put(data, n)) return PutResult::TooSmall;
  outWorkCv_.notify_one();
  return PutResult::Accepted;
}

std::size_t TScpBaseDispatcher::OutUsed() {
  std::lock_guard lock(outMutex_);
  return outRing_.Used();
}

bool TScpBaseDispatcher::WaitOutputEmpty(std::uint32_t limitMs) {
  std::unique_lock lock(outMutex_);
  return outDoneCv_.wait_for(lock, std::chrono::milliseconds(limitMs),
                             [this] { return outRing_.Empty(); });
}

void TScpBaseDispatcher::FlushOut() {
  std::unique_lock lock(outMutex_);
  // A write() in progress reads ring memory; it is non-blocking and ends at
  // once, and the output thread acknowledges it through outDoneCv_.
  outDoneCv_.wait(lock, [this] { return !inWrite_; });
  outRing_.Clear();
  handed_ = 0;
  PurgeSystemOutput();
  outWorkCv_.notify_one();
  outDoneCv_.notify_all();
}

void TScpBaseDispatcher::MarkLost() {
  NotifyLostReceive();
  std::lock_guard lock(outMutex_);
  NotifyLostOutputLocked();
}

void TScpBaseDispatcher::NotifyLostReceive() {
  lost_.store(true);
  std::lock_guard lock(rxMutex_);
  rxCv_.notify_all();
}

void TScpBaseDispatcher::NotifyLostOutputLocked() {
  lost_.store(true);
  outRing_.Clear();
  handed_ = 0;
  outWorkCv_.notify_all();
  outDoneCv_.notify_all();
}

}  // namespace bcu::link
