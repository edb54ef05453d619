#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/Win32SerialObject.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

// A read of bytes the driver reports waiting ends at once; this bounds it
// all the same.
constexpr DWORD kQueuedReadMs = 200;

// "COM5" or "com12" gets the device prefix; any other name is taken as it is.
std::wstring DeviceName(const std::string& path) {
  if (path.size() > 3 && (path[0] == 'C' || path[0] == 'c') && (path[1] == 'O' || path[1] == 'o') &&
      (path[2] == 'M' || path[2] == 'm') &&
      std::all_of(path.begin() + 3, path.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return L"\\\\.\\" + Widen(path);
  return Widen(path);
}

std::size_t TakeAhead(Win32SerialObject& port, std::uint8_t* out, std::size_t n) {
  const std::size_t k = std::min(n, port.AheadCount());
  std::memcpy(out, port.ahead + port.aheadPos, k);
  port.aheadPos += k;
  if (port.aheadPos == port.aheadEnd) port.aheadPos = port.aheadEnd = 0;
  return k;
}

void PutAhead(Win32SerialObject& port, const std::uint8_t* data, std::size_t n) {
  if (port.aheadPos > 0 && port.aheadEnd + n > sizeof port.ahead) {
    std::memmove(port.ahead, port.ahead + port.aheadPos, port.AheadCount());
    port.aheadEnd -= port.aheadPos;
    port.aheadPos = 0;
  }
  n = std::min(n, sizeof port.ahead - port.aheadEnd);
  std::memcpy(port.ahead + port.aheadEnd, data, n);
  port.aheadEnd += n;
}

// Bytes the driver holds for reading, -1 when it cannot tell (gone).
int DriverQueued(Win32SerialObject& port) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(port.handle, &errors, &stat)) {
    if (SerialDeviceGone(::GetLastError())) port.lost = true;
    return -1;
  }
  return static_cast<int>(stat.cbInQue);
}

// Reads `n` bytes the driver reports waiting into `ahead`.
void ReadQueued(Win32SerialObject& port, std::size_t n) {
  n = std::min(n, sizeof port.ahead - port.AheadCount());
  if (n == 0) return;
  std::uint8_t buffer[sizeof port.ahead];
  DWORD got = 0;
  if (!::ReadFile(port.handle, buffer, static_cast<DWORD>(n), &got, &port.readOv)) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_IO_PENDING) {
      if (SerialDeviceGone(e)) port.lost = true;
      return;
    }
    if (::WaitForSingleObject(port.readOv.hEvent, kQueuedReadMs) != WAIT_OBJECT_0)
      ::CancelIoEx(port.handle, &port.readOv);
    if (!::GetOverlappedResult(port.handle, &port.readOv, &got, TRUE)) {
      const DWORD e2 = ::GetLastError();
      if (SerialDeviceGone(e2)) port.lost = true;
    }
  }
  PutAhead(port, buffer, got);
}

// Starts the 1-byte read that waits for the next byte. True when a byte
// came at once (it is in `ahead`) or the read is in progress.
bool ArmRead(Win32SerialObject& port) {
  DWORD got = 0;
  if (::ReadFile(port.handle, &port.readByte, 1, &got, &port.readOv)) {
    if (got == 1) PutAhead(port, &port.readByte, 1);
    return true;
  }
  const DWORD e = ::GetLastError();
  if (e == ERROR_IO_PENDING) {
    port.readPending = true;
    return true;
  }
  if (SerialDeviceGone(e)) port.lost = true;
  return false;
}

// wine answers FlushFileBuffers on a COM port with tcflush(TCOFLUSH): the
// bytes the Unix driver has not sent yet are dropped (on a pseudo-terminal
// also those the other end has not read yet), where Windows waits for them.
bool FlushDiscardsOutput() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool SerialDeviceGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
      return true;
    default:
      return false;
  }
}

std::wstring PortClaimName(const std::wstring& deviceName) {
  std::wstring name = deviceName;
  const std::size_t cut = name.find_last_of(L"\\/");
  if (cut != std::wstring::npos) name = name.substr(cut + 1);
  for (wchar_t& c : name)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return L"Global\\BrisantCodeUpdater.Port." + name;
}

Win32SerialObject::~Win32SerialObject() {
  if (handle != INVALID_HANDLE_VALUE) {
    ::CancelIoEx(handle, nullptr);
    if (readPending) {
      DWORD ignored = 0;
      ::GetOverlappedResult(handle, &readOv, &ignored, TRUE);
    }
    ::CloseHandle(handle);
  }
  if (claim != nullptr) ::CloseHandle(claim);
  if (readOv.hEvent != nullptr) ::CloseHandle(readOv.hEvent);
  if (writeOv.hEvent != nullptr) ::CloseHandle(writeOv.hEvent);
}

void Win32SerialObject::HarvestRead(bool wait) {
  if (!readPending) return;
  DWORD got = 0;
  if (::GetOverlappedResult(handle, &readOv, &got, wait ? TRUE : FALSE)) {
    readPending = false;
    if (got == 1) PutAhead(*this, &readByte, 1);
    return;
  }
  const DWORD e = ::GetLastError();
  if (e == ERROR_IO_INCOMPLETE) return;
  readPending = false;
  if (e != ERROR_OPERATION_ABORTED && SerialDeviceGone(e)) lost = true;
}

SerialHandle SerialOpenExclusive(const std::string& path, int& errorNumber, SerialLockFile*,
                                 const std::string&, std::string* systemText) {
  errorNumber = 0;
  const auto fail = [&](DWORD code, int e) {
    errorNumber = e;
    if (systemText != nullptr) *systemText = SystemErrorText(code);
    return kNoSerialHandle;
  };
  // No sharing: a second program (or a second open here) gets "access
  // denied", and this open fails the same way on a port another one holds.
  const std::wstring device = DeviceName(path);
  const HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    const int mapped = ErrnoOf(e);
    return fail(e, mapped == EACCES ? EBUSY : mapped);
  }
  const HANDLE claim = ::CreateMutexW(nullptr, FALSE, PortClaimName(device).c_str());
  if (claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(claim);
    ::CloseHandle(h);
    return fail(ERROR_ACCESS_DENIED, EBUSY);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) {
    const DWORD e = ::GetLastError();
    if (claim != nullptr) ::CloseHandle(claim);
    ::CloseHandle(h);
    return fail(e, ENOTTY);
  }
  // Reads wait until what they ask for has come (the layer only asks for
  // what is there, or for one byte with a bound of its own); writes are
  // bounded by the driver's calls.
  COMMTIMEOUTS timeouts{};
  ::SetCommTimeouts(h, &timeouts);
  auto* port = new Win32SerialObject;
  port->handle = h;
  port->claim = claim;
  port->flushDiscards = FlushDiscardsOutput();
  // ReadFile and WriteFile reset their event when they start.
  port->readOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  port->writeOv.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (port->readOv.hEvent == nullptr || port->writeOv.hEvent == nullptr) {
    const DWORD e = ::GetLastError();
    delete port;
    return fail(e, ErrnoOf(e));
  }
  return reinterpret_cast<SerialHandle>(port);
}

void SerialLeaveExclusive(SerialHandle) {}

void SerialClose(SerialHandle port) {
  delete SerialObject(port);
}

bool SerialReadLine(SerialHandle port, SerialLineConfig& line) {
  Win32SerialObject* p = SerialObject(port);
  const std::uint32_t rate = line.BaudRate;
  line = SerialLineConfig{};
  line.BaudRate = rate;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (p == nullptr || !::GetCommState(p->handle, &dcb)) return false;
  line.ByteSize = dcb.ByteSize;
  line.Parity = dcb.Parity;
  line.StopBits = dcb.StopBits;
  line.fParity = dcb.fParity != 0;
  line.fOutxCtsFlow = dcb.fOutxCtsFlow != 0;
  line.fRtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
  line.fDtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
  line.fOutX = dcb.fOutX != 0;
  line.fInX = dcb.fInX != 0;
  return true;
}

int SerialWriteLine(SerialHandle port, const SerialLineConfig& line, SerialLineScope scope) {
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) return EBADF;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(p->handle, &dcb)) return ErrnoOf(::GetLastError());
  dcb.BaudRate = line.BaudRate;
  dcb.ByteSize = line.ByteSize;
  dcb.Parity = line.Parity;
  dcb.fParity = line.fParity ? 1 : 0;
  dcb.StopBits = line.StopBits;
  if (scope == SerialLineScope::Whole) {
    dcb.fBinary = 1;
    dcb.fOutxCtsFlow = line.fOutxCtsFlow || line.fRtsControl == kRtsControlHandshake ? 1 : 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fDtrControl =
        line.fDtrControl == kDtrControlEnable ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    switch (line.fRtsControl) {
      case kRtsControlEnable:
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        break;
      case kRtsControlHandshake:
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
      case kRtsControlToggle:
        dcb.fRtsControl = RTS_CONTROL_TOGGLE;
        break;
      default:
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
    }
    dcb.fOutX = line.fOutX ? 1 : 0;
    dcb.fInX = line.fInX ? 1 : 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
  }
  if (::SetCommState(p->handle, &dcb)) return 0;
  const DWORD e = ::GetLastError();
  if (dcb.fRtsControl != RTS_CONTROL_TOGGLE) return ErrnoOf(e);
  // A driver without RTS toggling: RTS stays low, and the caller raises it
  // around its writes (as where a Linux driver cannot switch RS-485).
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  return ::SetCommState(p->handle, &dcb) ? 0 : ErrnoOf(::GetLastError());
}

int SerialInputCount(SerialHandle port) {
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) return -1;
  std::lock_guard lock(p->mutex);
  p->HarvestRead(false);
  if (p->readPending) return static_cast<int>(p->AheadCount());
  const int queued = DriverQueued(*p);
  if (queued < 0) return p->AheadCount() > 0 ? static_cast<int>(p->AheadCount()) : -1;
  return static_cast<int>(p->AheadCount()) + queued;
}

std::ptrdiff_t SerialRead(SerialHandle port, void* buffer, std::size_t n) {
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) {
    errno = EBADF;
    return -1;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::lock_guard lock(p->mutex);
  p->HarvestRead(false);
  std::size_t got = TakeAhead(*p, out, n);
  if (got < n && !p->readPending && !p->lost) {
    const int queued = DriverQueued(*p);
    if (queued > 0) {
      ReadQueued(*p, static_cast<std::size_t>(queued));
      got += TakeAhead(*p, out + got, n - got);
    }
  }
  if (got > 0) return static_cast<std::ptrdiff_t>(got);
  errno = p->lost ? EIO : EAGAIN;
  return -1;
}

SerialWakeup::SerialWakeup() = default;

SerialWakeup::~SerialWakeup() {
  Close();
}

bool SerialWakeup::Open(int& errorNumber) {
  Close();
  const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    errorNumber = ErrnoOf(::GetLastError());
    return false;
  }
  native_ = reinterpret_cast<SerialHandle>(event);
  return true;
}

void SerialWakeup::Close() {
  if (native_ != kNoSerialHandle) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = kNoSerialHandle;
}

void SerialWakeup::Wake() {
  if (native_ != kNoSerialHandle) ::SetEvent(reinterpret_cast<HANDLE>(native_));
}

void SerialWakeup::Clear() {
  if (native_ != kNoSerialHandle) ::ResetEvent(reinterpret_cast<HANDLE>(native_));
}

void SerialWakeup::WaitForever() {
  if (native_ != kNoSerialHandle)
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), INFINITE);
}

bool SerialWaitWritable(SerialHandle port, std::uint32_t realMs, bool& gone, SerialWakeup* wakeup) {
  gone = false;
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) {
    gone = true;
    return false;
  }
  // Writes never wait for room here (the driver's Write bounds them): the
  // port takes output again once its output queue shrinks.
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(p->handle, &errors, &stat)) {
    gone = SerialDeviceGone(::GetLastError());
    return false;
  }
  const DWORD before = stat.cbOutQue;
  if (before == 0) return true;
  const std::uint64_t end = RealMicros() + static_cast<std::uint64_t>(realMs) * 1000;
  const HANDLE wake =
      wakeup != nullptr ? reinterpret_cast<HANDLE>(wakeup->Native()) : INVALID_HANDLE_VALUE;
  for (;;) {
    if (wakeup != nullptr) {
      if (::WaitForSingleObject(wake, 1) == WAIT_OBJECT_0) return false;
    } else {
      ::Sleep(1);
    }
    if (!::ClearCommError(p->handle, &errors, &stat)) {
      gone = SerialDeviceGone(::GetLastError());
      return false;
    }
    if (stat.cbOutQue < before) return true;
    if (RealMicros() >= end) return false;
  }
}

SerialWait SerialWaitReadable(SerialHandle port, std::uint32_t realMs, SerialWakeup* wakeup) {
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) return SerialWait::Gone;
  {
    std::lock_guard lock(p->mutex);
    p->HarvestRead(false);
    if (p->AheadCount() > 0) return SerialWait::Input;
    if (p->lost) return SerialWait::Gone;
    if (!p->readPending) {
      const int queued = DriverQueued(*p);
      if (queued > 0) return SerialWait::Input;
      if (queued < 0 && p->lost) return SerialWait::Gone;
      if (!ArmRead(*p)) return SerialWait::Gone;
      if (p->AheadCount() > 0) return SerialWait::Input;
    }
  }
  HANDLE events[2] = {p->readOv.hEvent, nullptr};
  DWORD count = 1;
  if (wakeup != nullptr && wakeup->IsOpen()) {
    events[1] = reinterpret_cast<HANDLE>(wakeup->Native());
    count = 2;
  }
  const DWORD r = ::WaitForMultipleObjects(count, events, FALSE,
                                           realMs == kSerialWaitForever ? INFINITE : realMs);
  if (r == WAIT_OBJECT_0) {
    std::lock_guard lock(p->mutex);
    p->HarvestRead(false);
    if (p->AheadCount() > 0) return SerialWait::Input;
    if (p->lost) return SerialWait::Gone;
    return SerialWait::Timeout;  // the read was aborted (a purge)
  }
  if (r == WAIT_OBJECT_0 + 1) return SerialWait::Woken;
  if (r == WAIT_TIMEOUT) return SerialWait::Timeout;
  return SerialWait::Gone;
}

void SerialFineSleeps(bool) {}

bool SerialLineErrors(SerialHandle port, SerialErrorCounters& counters, std::uint32_t& flags) {
  flags = 0;
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) return false;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(p->handle, &errors, &stat)) return false;
  // The driver keeps the flags since the last call itself.
  flags = errors;
  counters.valid = true;
  return true;
}

void SerialSleepMicros(std::uint32_t us) {
  std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace bcu::platform
