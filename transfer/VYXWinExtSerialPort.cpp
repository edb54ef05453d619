#include "transfer/VYXWinExtSerialPort.h"

#include <algorithm>
#include <cerrno>

#include "platform/Clock.h"

namespace bcu::transfer {

VYXWinExtSerialPort::~VYXWinExtSerialPort() {
  if (isOpen) Close();
}

void VYXWinExtSerialPort::SetDriver(platform::SerialDriver* driver) {
  driver_ = driver;
}

platform::SerialDriver& VYXWinExtSerialPort::Driver() const {
  return driver_ != nullptr ? *driver_ : platform::SystemSerialDriver();
}

void VYXWinExtSerialPort::ReadConfig() {
  dcb_ = SerialDcb{};
  platform::SerialReadLine(fd_, dcb_);
}

void VYXWinExtSerialPort::WriteConfig() {
  if (fd_ < 0) return;
  platform::SerialWriteLine(fd_, dcb_, platform::SerialLineScope::Whole);
  // RTS raised only while sending: the driver's RS-485 direction control
  // where it has one.
  const bool toggle = dcb_.fRtsControl == kRtsControlToggle;
  if (toggle && !rs485Set_ && caps_.kernelRs485) {
    rs485Set_ = platform::SerialEnableKernelRs485(Driver(), fd_, savedRs485_);
    if (rs485Set_) rtsDriven_ = -1;  // the driver holds RTS now
  } else if (!toggle && rs485Set_) {
    Driver().SetRs485(fd_, savedRs485_);
    rs485Set_ = false;
    rtsDriven_ = -1;
  }
  DriveModemLines();
}

bool VYXWinExtSerialPort::RtsAroundWrites() const {
  return dcb_.fRtsControl == kRtsControlToggle && !rs485Set_;
}

void VYXWinExtSerialPort::DriveModemLines() {
  if (fd_ < 0) return;
  const int dtr = dcb_.fDtrControl == kDtrControlEnable ? 1 : 0;
  if (dtr != dtrDriven_ && Driver().SetModemLines(fd_, platform::kSerialLineDtr, dtr == 1))
    dtrDriven_ = dtr;
  if (rs485Set_) return;  // the driver switches RTS
  // Handshake: raised so that the far end may send; the kernel drops it
  // when its input fills. Toggle: low while idle.
  const int rts =
      (dcb_.fRtsControl == kRtsControlEnable || dcb_.fRtsControl == kRtsControlHandshake) ? 1 : 0;
  if (rts != rtsDriven_ && Driver().SetModemLines(fd_, platform::kSerialLineRts, rts == 1))
    rtsDriven_ = rts;
}

bool VYXWinExtSerialPort::KernelRs485Available() {
  if (fd_ < 0) return false;
  if (rs485Set_) return true;
  if (!caps_.kernelRs485) return false;
  const bool available = platform::SerialKernelRs485Available(Driver(), fd_);
  rtsDriven_ = -1;  // the test may have moved RTS
  DriveModemLines();
  return available;
}

void VYXWinExtSerialPort::SetBaudRate(std::uint8_t code) {
  baudCode = CanonicalBaudCode(code);
  if (!isOpen) return;
  const std::uint32_t rate = BaudCodeRate(baudCode);
  // Bytes still on their way would go out at the new rate: the line is
  // emptied first.
  if (unsent_ && rate != 0 && rate != dcb_.BaudRate) Flush();
  if (rate != 0) dcb_.BaudRate = rate;
  WriteConfig();
}

void VYXWinExtSerialPort::SetDataBits(std::uint8_t code) {
  if (LineCombinationRefused(code, stopBitsCode)) return;
  dataBitsCode = code;
  if (!isOpen) return;
  dcb_.ByteSize = static_cast<std::uint8_t>(code + 5);
  WriteConfig();
}

void VYXWinExtSerialPort::SetParity(std::uint8_t code) {
  parityCode = code;
  if (!isOpen) return;
  dcb_.Parity = code;
  if (code == 0)
    dcb_.fParity = false;
  else if (code <= 4)
    dcb_.fParity = true;
  WriteConfig();
}

void VYXWinExtSerialPort::SetStopBits(std::uint8_t code) {
  if (code != 0 && LineCombinationRefused(dataBitsCode, code)) return;
  stopBitsCode = code;
  if (!isOpen) return;
  dcb_.StopBits = code;
  WriteConfig();
}

void VYXWinExtSerialPort::SetFlowControl(std::uint8_t code) {
  flowControlCode = code;
  if (!isOpen) return;
  switch (code) {
    case kFlowNone:
      dcb_.fOutxCtsFlow = false;
      dcb_.fRtsControl = kRtsControlDisable;
      dcb_.fOutX = dcb_.fInX = false;
      break;
    case kFlowHardware:
      dcb_.fOutxCtsFlow = true;
      dcb_.fRtsControl = kRtsControlHandshake;
      dcb_.fOutX = dcb_.fInX = false;
      break;
    case kFlowSoftware:
      dcb_.fOutxCtsFlow = false;
      dcb_.fRtsControl = kRtsControlDisable;
      dcb_.fOutX = dcb_.fInX = true;
      break;
    case kFlowCtsRtsToggle:
      dcb_.fOutxCtsFlow = true;
      dcb_.fRtsControl = kRtsControlToggle;
      dcb_.fOutX = dcb_.fInX = false;
      break;
    default:
      return;  // stored, nothing applied
  }
  WriteConfig();
}

void VYXWinExtSerialPort::SetTimeouts(std::int32_t seconds, std::int32_t milliseconds) {
  timeoutSeconds = seconds;
  timeoutMilliseconds = milliseconds;
  if (!isOpen) return;
  const std::int64_t t64 = static_cast<std::int64_t>(seconds) * 1000 + milliseconds;
  const std::uint32_t t =
      t64 < 0 ? 0u : static_cast<std::uint32_t>(std::min<std::int64_t>(t64, 0x7FFFFFFF));
  timeouts_.ReadIntervalTimeout = t;
  timeouts_.ReadTotalTimeoutMultiplier = t;
  timeouts_.ReadTotalTimeoutConstant = 0;
  timeouts_.WriteTotalTimeoutMultiplier = t;
  timeouts_.WriteTotalTimeoutConstant = 0;
}

bool VYXWinExtSerialPort::Open() {
  if (isOpen) return true;
  int err = 0;
  openError_.clear();
  fd_ = platform::SerialOpenExclusive(portName, err, &lock_, Driver().LockFolder(), &openError_);
  if (fd_ < 0) {
    if (openError_.empty()) openError_ = "cannot be opened (error " + std::to_string(err) + ")";
    return false;
  }
  isOpen = true;
  lost_ = false;
  heldValid_ = false;
  drainFailed_ = false;
  unsent_ = false;
  lineFreeUs_ = 0;
  caps_ = platform::SerialLearnCapabilities(Driver(), fd_);
  rtsDriven_ = -1;
  dtrDriven_ = -1;
  counters_ = {};
  std::uint32_t ignored = 0;
  countersSupported_ = platform::SerialLineErrors(fd_, counters_, ignored);  // count from here
  ReadConfig();
  dcb_.fBinary = true;
  dcb_.fOutX = dcb_.fInX = dcb_.fAbortOnError = dcb_.fNull = false;
  // Received bytes go to the reader at once, not after the adapter's latency
  // timer; the previous setting comes back at close.
  bool before = false;
  lowLatencyChanged_ = Driver().SetLowLatency(fd_, true, before) && !before;
  lowLatencyBefore_ = before;
  SetBaudRate(baudCode);
  SetDataBits(dataBitsCode);
  SetStopBits(stopBitsCode);
  SetParity(parityCode);
  SetFlowControl(flowControlCode);
  SetTimeouts(timeoutSeconds, timeoutMilliseconds);
  WriteConfig();
  return true;
}

int VYXWinExtSerialPort::Close() {
  if (fd_ < 0) {
    isOpen = false;
    return 0;
  }
  platform::SerialDriver& driver = Driver();
  // What was written goes out first (bounded: a hung adapter's bytes stay).
  if (unsent_ && !drainFailed_) Flush();
  // Bytes the adapter could not send are dropped: otherwise close() waits
  // for them for the driver's closing time (30 s by default).
  if (drainFailed_ || driver.OutputQueued(fd_) > 0) driver.Discard(fd_, false, true);
  if (lowLatencyChanged_) {
    bool ignored = false;
    driver.SetLowLatency(fd_, lowLatencyBefore_, ignored);
    lowLatencyChanged_ = false;
  }
  if (rs485Set_) {
    driver.SetRs485(fd_, savedRs485_);
    rs485Set_ = false;
  }
  platform::SerialLeaveExclusive(fd_);
  // The lock file goes first: once the device is closed its name can be
  // handed to another port at once (a pseudo-terminal's number is), and a
  // lock file still naming this process would keep that port's user out.
  lock_.Release();
  driver.Close(fd_);
  fd_ = platform::kNoSerialHandle;
  isOpen = false;
  heldValid_ = false;
  drainFailed_ = false;
  return 1;
}

std::uint32_t VYXWinExtSerialPort::LineTimeMs(std::int32_t n) const {
  if (n <= 0) return 0;
  const std::uint32_t rate = dcb_.BaudRate ? dcb_.BaudRate : 9600;
  const std::uint32_t bits =
      1u + dcb_.ByteSize + (dcb_.fParity ? 1u : 0u) + (dcb_.StopBits == kOneStopBit ? 1u : 2u);
  const std::uint64_t ms = (static_cast<std::uint64_t>(n) * bits * 1000 + rate - 1) / rate;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, 600000));
}

bool VYXWinExtSerialPort::Drain(std::int32_t n) {
  drainFailed_ =
      !platform::SerialDrainBounded(Driver(), fd_, 2 * LineTimeMs(n) + kDrainSlackMs, &caps_);
  if (!drainFailed_) unsent_ = false;
  return !drainFailed_;
}

std::uint64_t VYXWinExtSerialPort::LineTimeUs(std::int32_t n) const {
  if (n <= 0) return 0;
  const std::uint64_t rate = dcb_.BaudRate ? dcb_.BaudRate : 9600;
  const std::uint64_t bits =
      1u + dcb_.ByteSize + (dcb_.fParity ? 1u : 0u) + (dcb_.StopBits == kOneStopBit ? 1u : 2u);
  return static_cast<std::uint64_t>(n) * bits * 1000000u / rate;
}

std::uint64_t VYXWinExtSerialPort::LineBusyUs() const {
  const std::uint64_t now = platform::RealMicros();
  return lineFreeUs_ > now ? lineFreeUs_ - now : 0;
}

void VYXWinExtSerialPort::Flush() {
  if (fd_ < 0) return;
  Drain(std::max(Driver().OutputQueued(fd_), 0));
}

std::int32_t VYXWinExtSerialPort::InputCount() {
  if (fd_ < 0) return 0;
  int n = platform::SerialInputCount(fd_);
  if (n < 0) return 0;
  return n + (heldValid_ ? 1 : 0);
}

std::int32_t VYXWinExtSerialPort::PollInput() {
  if (!isOpen || fd_ < 0) return 0;
  std::uint32_t flags = 0;
  if (countersSupported_) countersSupported_ = platform::SerialLineErrors(fd_, counters_, flags);
  int n = platform::SerialInputCount(fd_);
  SetErrorFromFlags(flags);
  if (n < 0) return -1;
  errorCode = 0;
  return n + (heldValid_ ? 1 : 0);
}

void VYXWinExtSerialPort::SetErrorFromFlags(std::uint32_t flags) {
  static constexpr struct {
    std::uint32_t flag;
    std::uint32_t code;
  } kOrder[] = {
      {platform::kCeBreak, kSerialErrBreak},     {platform::kCeFrame, kSerialErrFrame},
      {platform::kCeIoe, kSerialErrIoe},         {platform::kCeMode, kSerialErrMode},
      {platform::kCeOverrun, kSerialErrOverrun}, {platform::kCeRxParity, kSerialErrRxParity},
      {platform::kCeRxOver, kSerialErrRxOver},   {platform::kCeTxFull, kSerialErrTxFull}};
  for (const auto& e : kOrder) {
    if (flags & e.flag) {
      errorCode = e.code;
      return;
    }
  }
}

std::int32_t VYXWinExtSerialPort::ReadWaiting(std::uint8_t* buffer, std::int32_t n) {
  std::int32_t got = 0;
  if (heldValid_ && n > 0) {
    buffer[got++] = held_;
    heldValid_ = false;
  }
  while (got < n) {
    const std::ptrdiff_t r =
        platform::SerialRead(fd_, buffer + got, static_cast<std::size_t>(n - got));
    if (r > 0) {
      got += static_cast<std::int32_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    lost_ = true;  // 0 bytes from a blocking-style read, or EIO: the device is gone
    return got > 0 ? got : -1;
  }
  return got;
}

std::int32_t VYXWinExtSerialPort::Read(std::uint8_t* buffer, std::int32_t n) {
  if (!isOpen || fd_ < 0 || buffer == nullptr || n <= 0) return 0;
  if (InputCount() == 0) return 0;
  // Bytes already waiting come at once; the rest may take up to the interval
  // time-out between bytes and the total time-out for the whole read.
  const std::uint32_t interval = timeouts_.ReadIntervalTimeout;
  const std::uint64_t total = static_cast<std::uint64_t>(timeouts_.ReadTotalTimeoutMultiplier) *
                                  static_cast<std::uint64_t>(n) +
                              timeouts_.ReadTotalTimeoutConstant;
  const std::uint64_t startUs = platform::RealMicros();
  std::int32_t got = 0;
  while (got < n) {
    std::int32_t r = ReadWaiting(buffer + got, n - got);
    if (r < 0) break;
    got += r;
    if (got >= n || interval == 0) break;
    const std::uint64_t elapsedMs = (platform::RealMicros() - startUs) / 1000;
    if (elapsedMs >= total) break;
    const std::uint32_t wait =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(interval, total - elapsedMs));
    if (!WaitForInput(wait)) break;
  }
  if (got <= 0) {
    errorCode = kSerialErrRead;
    return -1;
  }
  return got;
}

std::int32_t VYXWinExtSerialPort::ReadNow(std::uint8_t* buffer, std::int32_t n) {
  if (!isOpen || fd_ < 0 || buffer == nullptr || n <= 0) return 0;
  std::int32_t got = 0;
  if (heldValid_) {
    buffer[got++] = held_;
    heldValid_ = false;
    if (got == n) return got;
  }
  std::ptrdiff_t r;
  do {
    r = platform::SerialRead(fd_, buffer + got, static_cast<std::size_t>(n - got));
  } while (r < 0 && errno == EINTR);
  if (r > 0) return got + static_cast<std::int32_t>(r);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return got;
  lost_ = true;  // 0 bytes from a readable device, or EIO
  return got > 0 ? got : -1;
}

bool VYXWinExtSerialPort::ReadChar(char* c) {
  std::uint8_t b = 0;
  if (Read(&b, 1) != 1) return false;
  if (c) *c = static_cast<char>(b);
  return true;
}

std::int32_t VYXWinExtSerialPort::Write(const std::uint8_t* buffer, std::int32_t n) {
  std::int32_t result = 0;
  if (isOpen && fd_ >= 0) {
    const std::uint32_t t = timeouts_.WriteTotalTimeoutMultiplier;
    const std::uint32_t stallMs = (t > 0 && t < kWriteStallMs) ? t : kWriteStallMs;
    std::int32_t done = 0;
    bool failed = buffer == nullptr && n > 0;
    const bool toggle = !failed && n > 0 && RtsAroundWrites();
    if (toggle) Driver().SetModemLines(fd_, platform::kSerialLineRts, true);
    while (!failed && done < n) {
      const std::ptrdiff_t w =
          Driver().Write(fd_, buffer + done, static_cast<std::size_t>(n - done));
      if (w > 0) {
        done += static_cast<std::int32_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        bool gone = false;
        if (platform::SerialWaitWritable(fd_, stallMs, gone)) continue;
        if (gone) lost_ = true;
      } else if (w < 0 && errno == EIO) {
        lost_ = true;
      }
      failed = true;
    }
    if (done > 0) {
      unsent_ = true;
      const std::uint64_t now = platform::RealMicros();
      lineFreeUs_ = std::max(lineFreeUs_, now) + LineTimeUs(done);
    }
    // RTS drops only once the last bit has left; a drain that does not end
    // in twice the line time plus the slack is a hung adapter.
    if (toggle && !failed && done > 0) failed = !Drain(done);
    if (toggle) {
      Driver().SetModemLines(fd_, platform::kSerialLineRts, false);
      rtsDriven_ = 0;
    }
    if (failed) {
      errorCode = kSerialErrWrite;
      result = -1;
    } else {
      result = done;
    }
  }
  return result;
}

bool VYXWinExtSerialPort::WriteChar(char c) {
  const std::uint8_t b = static_cast<std::uint8_t>(c);
  return Write(&b, 1) == 1;
}

void VYXWinExtSerialPort::SetDtr(bool on) {
  if (fd_ < 0) return;
  if (Driver().SetModemLines(fd_, platform::kSerialLineDtr, on)) dtrDriven_ = on ? 1 : 0;
}

void VYXWinExtSerialPort::SetRts(bool on) {
  if (fd_ < 0) return;
  if (Driver().SetModemLines(fd_, platform::kSerialLineRts, on)) rtsDriven_ = on ? 1 : 0;
}

std::uint32_t VYXWinExtSerialPort::GetModemStatus() {
  if (!isOpen || fd_ < 0) return 0;
  int bits = 0;
  if (!Driver().GetModemLines(fd_, bits)) return 0;
  std::uint32_t status = 0;
  if (bits & platform::kSerialLineCts) status |= kModemCts;
  if (bits & platform::kSerialLineDsr) status |= kModemDsr;
  if (bits & platform::kSerialLineCd) status |= kModemRlsd;
  if (bits & platform::kSerialLineRi) status |= kModemRing;
  return status;
}

platform::SerialWait VYXWinExtSerialPort::WaitReadable(std::uint32_t realMs) {
  return platform::SerialWaitReadable(fd_, realMs);
}

bool VYXWinExtSerialPort::WaitForInput(std::uint32_t realMs) {
  if (!isOpen || fd_ < 0 || lost_) return false;
  if (heldValid_ || platform::SerialInputCount(fd_) > 0) return true;
  switch (platform::SerialWaitReadable(fd_, realMs)) {
    case platform::SerialWait::Timeout:
    case platform::SerialWait::Woken:  // no wake-up is given to these waits
      return false;
    case platform::SerialWait::Gone:
      lost_ = true;
      return false;
    case platform::SerialWait::Input:
      break;
  }
  if (platform::SerialInputCount(fd_) > 0) return true;
  // Readable with an empty queue: a read tells whether the device is gone.
  std::uint8_t b = 0;
  const std::ptrdiff_t r = platform::SerialRead(fd_, &b, 1);
  if (r == 1) {
    held_ = b;
    heldValid_ = true;
    return true;
  }
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
  lost_ = true;
  return false;
}

}  // namespace bcu::transfer
