#include "link/ScpComPort.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "link/ScpDispatcher.h"
#include "platform/PortTable.h"
#include "platform/SerialDriver.h"

namespace bcu::link {

namespace {

// A rate change waits for the output ring to empty: twice the line time of
// what it holds plus this much, but never more than 10 s ...
constexpr std::uint32_t kBaudDrainSlackMs = 500;
constexpr std::uint32_t kBaudDrainMaxMs = 10000;
// ... then for the transmitter, at most this long ...
constexpr std::uint32_t kBaudTransmitterMs = 250;
// ... and then for as long as this many characters take at the old rate.
constexpr std::uint32_t kBaudSettleChars = 18;

}  // namespace

TScpCustomComPort::TScpCustomComPort() = default;

TScpCustomComPort::~TScpCustomComPort() {
  ClosePort();
}

void TScpCustomComPort::SetComNumber(std::uint16_t n) {
  if (n == comNumber_) return;
  comNumber_ = n;
  if (Open()) {
    ClosePort();
    OpenPort();
  }
}

std::string TScpCustomComPort::ResolvedDevicePath() const {
  if (!devicePath_.empty()) return devicePath_;
  if (comNumber_ < 1 || comNumber_ > platform::kPortSlots) return {};
  if (portTable_ != nullptr) return portTable_->DevicePath(comNumber_);
  return platform::DefaultDevicePath(comNumber_);
}

void TScpCustomComPort::SetRS485Mode(bool on) {
  rs485_ = on;
  if (dispatcher_) dispatcher_->SetRS485(on);
}

void TScpCustomComPort::SetOpen(bool open) {
  if (open == Open()) return;
  if (open) {
    OpenPort();
  } else {
    ClosePort();
  }
}

bool TScpCustomComPort::Open() const {
  return dispatcher_ != nullptr;
}

void TScpCustomComPort::OpenPort() {
  const std::string path = ResolvedDevicePath();
  if (path.empty()) throw EBadId("COM" + std::to_string(comNumber_) + " does not exist");
  auto dispatcher = std::make_unique<TScpWin32Dispatcher>(
      outSize_, driver_ != nullptr ? *driver_ : platform::SystemSerialDriver());
  dispatcher->Open(path, Line(), rs485_);
  dispatcher_ = std::move(dispatcher);
}

void TScpCustomComPort::ClosePort() {
  if (!dispatcher_) return;
  dispatcher_->Close();
  dispatcher_.reset();
}

void TScpCustomComPort::EnsureOpen() {
  if (!dispatcher_) OpenPort();
}

void TScpCustomComPort::ApplyLine() {
  if (!dispatcher_ || dispatcher_->Lost()) return;
  if (const int err = dispatcher_->SetLine(Line())) {
    throw EScpIOError(err,
                      "Cannot change the line settings: " + std::system_category().message(err));
  }
}

void TScpCustomComPort::SetBaud(std::int32_t rate) {
  if (rate == baud_) return;
  if (rate < kScpMinBaud || rate > kScpMaxBaud) {
    throw EBadArgument("Unsupported baud rate " + std::to_string(rate));
  }
  const TScpLineSettings old = Line();
  baud_ = rate;
  if (!dispatcher_ || dispatcher_->Lost()) return;
  // Queued output still goes out at the old rate. When the ring does not
  // empty in time the adapter is stuck: the transmitter is not waited for.
  const std::uint32_t limit = std::min<std::uint32_t>(
      2 * ScpCharsMs(old, static_cast<std::uint32_t>(dispatcher_->OutUsed())) + kBaudDrainSlackMs,
      kBaudDrainMaxMs);
  if (dispatcher_->WaitOutputEmpty(limit)) dispatcher_->DrainSystemOutput(kBaudTransmitterMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(ScpCharsMs(old, kBaudSettleChars)));
  try {
    ApplyLine();
  } catch (...) {
    baud_ = old.baud;
    throw;
  }
}

void TScpCustomComPort::SetDataBits(std::uint16_t bits) {
  if (bits < 5 || bits > 8) throw EBadArgument("Unsupported data bits " + std::to_string(bits));
  if (bits == dataBits_) return;
  const std::uint16_t old = dataBits_;
  dataBits_ = bits;
  try {
    ApplyLine();
  } catch (...) {
    dataBits_ = old;
    throw;
  }
}

void TScpCustomComPort::SetStopBits(std::uint16_t bits) {
  if (bits != 1 && bits != 2) throw EBadArgument("Unsupported stop bits " + std::to_string(bits));
  if (bits == stopBits_) return;
  const std::uint16_t old = stopBits_;
  stopBits_ = bits;
  try {
    ApplyLine();
  } catch (...) {
    stopBits_ = old;
    throw;
  }
}

void TScpCustomComPort::SetParity(TScpParity parity) {
  if (parity == parity_) return;
  const TScpParity old = parity_;
  parity_ = parity;
  try {
    ApplyLine();
  } catch (...) {
    parity_ = old;
    throw;
  }
}

void TScpCustomComPort::SetOutSize(std::uint16_t size) {
  if (size == 0) throw EBadArgument("The output buffer size must not be 0");
  outSize_ = size;
}

void TScpCustomComPort::FlushInBuffer() {
  EnsureOpen();
  dispatcher_->FlushIn();
}

void TScpCustomComPort::FlushOutBuffer() {
  EnsureOpen();
  dispatcher_->FlushOut();
}

bool TScpCustomComPort::CharReady() {
  EnsureOpen();
  return dispatcher_->CharReady();
}

std::uint8_t TScpCustomComPort::GetChar() {
  EnsureOpen();
  std::uint8_t byte = 0;
  if (!dispatcher_->GetChar(byte)) throw EBufferIsEmpty("The receive buffer is empty");
  return byte;
}

int TScpCustomComPort::PutBlock(const void* data, std::uint32_t n) {
  EnsureOpen();
  if (n > 0 && data == nullptr) throw EBadArgument("PutBlock without data");
  if (n > dispatcher_->OutCapacity()) {
    throw EOutputBufferTooSmall("The output buffer cannot take " + std::to_string(n) + " bytes");
  }
  switch (dispatcher_->PutBlock(static_cast<const std::uint8_t*>(data), n)) {
    case TScpBaseDispatcher::PutResult::Accepted:
      return 0;
    case TScpBaseDispatcher::PutResult::TooSmall:
      throw EOutputBufferTooSmall("The output buffer has no room for " + std::to_string(n) +
                                  " bytes");
    case TScpBaseDispatcher::PutResult::Lost:
      break;
  }
  throw EPutBlockFail("The serial device is gone");
}

std::uint16_t TScpCustomComPort::OutBuffFree() {
  if (!dispatcher_) return outSize_;
  return static_cast<std::uint16_t>(dispatcher_->OutCapacity() - dispatcher_->OutUsed());
}

std::uint16_t TScpCustomComPort::OutBuffUsed() {
  if (!dispatcher_) return 0;
  return static_cast<std::uint16_t>(dispatcher_->OutUsed());
}

bool TScpCustomComPort::CTS() {
  return dispatcher_ ? dispatcher_->Cts() : false;
}

bool TScpCustomComPort::WaitCharReady(std::uint32_t realMs) {
  return dispatcher_ ? dispatcher_->WaitCharReady(realMs) : false;
}

bool TScpCustomComPort::PortLost() const {
  return dispatcher_ && dispatcher_->Lost();
}

bool TScpCustomComPort::KernelRS485() const {
  return dispatcher_ && dispatcher_->HasKernelRS485();
}

bool TScpCustomComPort::RtsByOutputThread() const {
  return dispatcher_ && dispatcher_->RtsByOutputThread();
}

TScpOutputPriority TScpCustomComPort::OutputPriority() const {
  return dispatcher_ ? dispatcher_->OutputPriority() : TScpOutputPriority::Normal;
}

int TScpCustomComPort::OutputPriorityError() const {
  return dispatcher_ ? dispatcher_->OutputPriorityError() : 0;
}

std::string TScpCustomComPort::LockFilePath() const {
  return dispatcher_ ? dispatcher_->LockFilePath() : std::string();
}

}  // namespace bcu::link
