#include <windows.h>

#include <cerrno>

#include "platform/SerialDriver.h"
#include "platform/Win32SerialObject.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

// A write that has not ended after this long is cut short: the bytes taken
// count, the rest is the caller's to hand over again (as a non-blocking write
// on Linux takes only what fits).
constexpr DWORD kWriteSliceMs = 20;

Win32SerialObject* Object(SerialHandle port) {
  Win32SerialObject* p = SerialObject(port);
  if (p == nullptr) errno = EBADF;
  return p;
}

void SetErrno(DWORD code) {
  errno = SerialDeviceGone(code) ? EIO : ErrnoOf(code);
}

}  // namespace

std::string SerialDriver::LockFolder() const {
  return {};  // Windows keeps a port for the program that opened it; no lock files
}

std::ptrdiff_t SerialDriver::Write(SerialHandle port, const void* data, std::size_t n) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return -1;
  if (n == 0) return 0;
  DWORD done = 0;
  if (!::WriteFile(p->handle, data, static_cast<DWORD>(n), &done, &p->writeOv)) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_IO_PENDING) {
      SetErrno(e);
      return -1;
    }
    if (::WaitForSingleObject(p->writeOv.hEvent, kWriteSliceMs) != WAIT_OBJECT_0)
      ::CancelIoEx(p->handle, &p->writeOv);
    if (!::GetOverlappedResult(p->handle, &p->writeOv, &done, TRUE)) {
      const DWORD e2 = ::GetLastError();
      if (e2 != ERROR_OPERATION_ABORTED) {
        SetErrno(e2);
        return -1;
      }
    }
  }
  if (done == 0) {
    errno = EAGAIN;
    return -1;
  }
  return static_cast<std::ptrdiff_t>(done);
}

int SerialDriver::OutputQueued(SerialHandle port) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return -1;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(p->handle, &errors, &stat)) {
    SetErrno(::GetLastError());
    return -1;
  }
  return static_cast<int>(stat.cbOutQue);
}

SerialTransmitter SerialDriver::Transmitter(SerialHandle) {
  return SerialTransmitter::Unknown;  // the COM API has no transmitter-empty bit
}

bool SerialDriver::WaitSent(SerialHandle port) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return false;
  // Called once the output queue is empty: what is left there is the UART's
  // FIFO, which drains by itself.
  if (p->flushDiscards) return true;
  if (::FlushFileBuffers(p->handle)) return true;
  const DWORD e = ::GetLastError();
  return e == ERROR_INVALID_FUNCTION || e == ERROR_NOT_SUPPORTED;
}

void SerialDriver::Discard(SerialHandle port, bool input, bool output) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return;
  DWORD flags = 0;
  if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (flags == 0) return;
  if (input) {
    std::lock_guard lock(p->mutex);
    // The read in progress is ended first: a purge that aborts it leaves
    // some drivers (wine's among them) refusing every later call.
    if (p->readPending) {
      ::CancelIoEx(p->handle, &p->readOv);
      p->HarvestRead(true);
    }
    ::PurgeComm(p->handle, flags & ~static_cast<DWORD>(PURGE_RXABORT));
    p->aheadPos = p->aheadEnd = 0;
  } else {
    ::PurgeComm(p->handle, flags);
  }
}

bool SerialDriver::GetModemLines(SerialHandle port, int& bits) {
  bits = 0;
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return false;
  DWORD status = 0;
  if (!::GetCommModemStatus(p->handle, &status)) {
    SetErrno(::GetLastError());
    return false;
  }
  if (status & MS_CTS_ON) bits |= kSerialLineCts;
  if (status & MS_DSR_ON) bits |= kSerialLineDsr;
  if (status & MS_RING_ON) bits |= kSerialLineRi;
  if (status & MS_RLSD_ON) bits |= kSerialLineCd;
  return true;
}

bool SerialDriver::SetModemLines(SerialHandle port, int bits, bool on) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return false;
  bool ok = true;
  if (bits & kSerialLineRts) ok = ::EscapeCommFunction(p->handle, on ? SETRTS : CLRRTS) && ok;
  if (bits & kSerialLineDtr) ok = ::EscapeCommFunction(p->handle, on ? SETDTR : CLRDTR) && ok;
  if (!ok) SetErrno(::GetLastError());
  return ok;
}

bool SerialDriver::GetRs485(SerialHandle, SerialRs485& conf) {
  conf = SerialRs485{};
  errno = ENOTTY;  // no RS-485 switching in the COM API
  return false;
}

bool SerialDriver::SetRs485(SerialHandle, const SerialRs485&) {
  errno = ENOTTY;
  return false;
}

bool SerialDriver::SetLowLatency(SerialHandle, bool, bool&) {
  return false;
}

int SerialDriver::RaiseThreadPriority(int& previous) {
  const HANDLE self = ::GetCurrentThread();
  const int base = ::GetThreadPriority(self);
  if (base == THREAD_PRIORITY_ERROR_RETURN) return ErrnoOf(::GetLastError());
  if (!::SetThreadPriority(self, base + 1)) return ErrnoOf(::GetLastError());
  previous = base;
  return 0;
}

void SerialDriver::RestoreThreadPriority(int previous) {
  ::SetThreadPriority(::GetCurrentThread(), previous);
}

SerialPriorityGrant SerialDriver::RaiseExchangePriority() {
  SerialPriorityGrant grant;
  const HANDLE self = ::GetCurrentThread();
  const int base = ::GetThreadPriority(self);
  if (base == THREAD_PRIORITY_ERROR_RETURN) {
    grant.error = ErrnoOf(::GetLastError());
    return grant;
  }
  if (base == THREAD_PRIORITY_TIME_CRITICAL) return grant;
  if (!::SetThreadPriority(self, THREAD_PRIORITY_TIME_CRITICAL)) {
    grant.error = ErrnoOf(::GetLastError());
    return grant;
  }
  grant.kind = SerialPriority::RealTime;
  grant.previousValue = base;
  return grant;
}

void SerialDriver::RestoreExchangePriority(const SerialPriorityGrant& grant) {
  if (grant.kind != SerialPriority::Normal)
    ::SetThreadPriority(::GetCurrentThread(), grant.previousValue);
}

int SerialDriver::Close(SerialHandle port) {
  Win32SerialObject* p = Object(port);
  if (p == nullptr) return -1;
  delete p;  // cancels what is in progress and closes the handle
  return 0;
}

}  // namespace bcu::platform
