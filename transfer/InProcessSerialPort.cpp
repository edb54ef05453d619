#include "transfer/InProcessSerialPort.h"

#include <algorithm>

namespace bcu::transfer {

namespace {

// One poll of a wait that finds nothing pending, in clock microseconds (the
// link's own block time).
constexpr std::uint64_t kIdlePollUs = 5000;

}  // namespace

InProcessSerialPort::InProcessSerialPort(LinePeer& peer, LineClock& clock, LineTally& tally)
    : peer_(peer), clock_(clock), tally_(tally) {}

InProcessSerialPort::~InProcessSerialPort() {
  isOpen = false;
}

void InProcessSerialPort::SetBaudRate(std::uint8_t code) {
  baudCode = CanonicalBaudCode(code);
}

void InProcessSerialPort::SetTimeouts(std::int32_t seconds, std::int32_t milliseconds) {
  timeoutSeconds = seconds;
  timeoutMilliseconds = milliseconds;
}

bool InProcessSerialPort::Open() {
  if (peer_.LineDropped()) return false;
  isOpen = true;
  input_.clear();
  return true;
}

int InProcessSerialPort::Close() {
  isOpen = false;
  input_.clear();
  return 1;
}

double InProcessSerialPort::ByteUs() const {
  const std::uint32_t rate = BaudCodeRate(baudCode);
  return rate > 0 ? 10.0e6 / rate : 10.0e6 / 19200;
}

void InProcessSerialPort::Collect() {
  std::uint8_t chunk[256];
  for (;;) {
    const std::size_t n = peer_.Transmit(chunk, sizeof chunk);
    if (n == 0) break;
    input_.insert(input_.end(), chunk, chunk + n);
    tally_.bytesFromRadio += n;
    tally_.lineUsFromRadio += static_cast<std::uint64_t>(ByteUs() * static_cast<double>(n) + 0.5);
  }
}

void InProcessSerialPort::Advance(std::uint64_t maxUs) {
  const std::int64_t next = peer_.UsUntilNextEvent();
  std::uint64_t step = maxUs;
  if (next >= 0) step = std::min<std::uint64_t>(step, static_cast<std::uint64_t>(next));
  clock_.AdvanceUs(std::max<std::uint64_t>(step, 1));
}

std::int32_t InProcessSerialPort::InputCount() {
  if (!isOpen) return 0;
  Collect();
  return static_cast<std::int32_t>(input_.size());
}

std::int32_t InProcessSerialPort::ReadNow(std::uint8_t* buffer, std::int32_t n) {
  if (!isOpen || buffer == nullptr || n <= 0) return 0;
  if (peer_.LineDropped() && input_.empty()) return -1;
  Collect();
  std::int32_t got = 0;
  while (got < n && !input_.empty()) {
    buffer[got++] = input_.front();
    input_.pop_front();
  }
  return got;
}

std::int32_t InProcessSerialPort::Read(std::uint8_t* buffer, std::int32_t n) {
  if (!isOpen || buffer == nullptr || n <= 0) return -1;
  // The port's read time-out, on the line's clock.
  const std::uint64_t limitUs = (static_cast<std::uint64_t>(std::max(timeoutSeconds, 0)) * 1000 +
                                 static_cast<std::uint64_t>(std::max(timeoutMilliseconds, 0))) *
                                1000;
  const std::uint64_t end = clock_.NowUs() + limitUs;
  std::int32_t got = ReadNow(buffer, n);
  while (got >= 0 && got < n && clock_.NowUs() < end && !peer_.LineDropped()) {
    Advance(end - clock_.NowUs());
    const std::int32_t more = ReadNow(buffer + got, n - got);
    if (more < 0) break;
    got += more;
  }
  return got;
}

bool InProcessSerialPort::ReadChar(char* c) {
  std::uint8_t b = 0;
  if (Read(&b, 1) != 1) return false;
  *c = static_cast<char>(b);
  return true;
}

std::int32_t InProcessSerialPort::Write(const std::uint8_t* buffer, std::int32_t n) {
  if (!isOpen || peer_.LineDropped() || buffer == nullptr || n < 0) return -1;
  if (n == 0) return 0;
  Collect();  // what the far end sent before these bytes went out
  peer_.Receive(buffer, static_cast<std::size_t>(n));
  const auto lineUs = static_cast<std::uint64_t>(ByteUs() * n + 0.5);
  tally_.bytesToRadio += static_cast<std::uint64_t>(n);
  tally_.lineUsToRadio += lineUs;
  // The write returns once its bytes have left, as the system port's does.
  clock_.AdvanceUs(lineUs);
  return n;
}

bool InProcessSerialPort::WriteChar(char c) {
  const auto b = static_cast<std::uint8_t>(c);
  return Write(&b, 1) == 1;
}

platform::SerialWait InProcessSerialPort::WaitReadable(std::uint32_t realMs) {
  if (!isOpen) return platform::SerialWait::Timeout;
  if (InputCount() > 0) return platform::SerialWait::Input;
  if (peer_.LineDropped()) return platform::SerialWait::Gone;
  Advance(std::min<std::uint64_t>(std::uint64_t{realMs} * 1000, kIdlePollUs));
  if (InputCount() > 0) return platform::SerialWait::Input;
  return peer_.LineDropped() ? platform::SerialWait::Gone : platform::SerialWait::Timeout;
}

bool InProcessSerialPort::WaitForInput(std::uint32_t realMs) {
  return WaitReadable(realMs) == platform::SerialWait::Input;
}

}  // namespace bcu::transfer
