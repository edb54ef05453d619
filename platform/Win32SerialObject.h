#pragma once
// What a COM port handle stands for on Windows (only the Win32*.cpp files of
// the serial layer look inside): the file handle, opened for overlapped I/O,
// and what lets reads behave as they do on Linux (return what is there at
// once, or wait for the first byte with a bound and a wake-up): one 1-byte
// read kept in progress while nothing is waiting, and the bytes it and later
// reads brought that the caller has not taken yet.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/SerialHandle.h"

namespace bcu::platform {

struct Win32SerialObject {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE claim = nullptr;  // the port's name, claimed for this program (see PortClaimName)
  std::mutex mutex;        // the read side: ahead, readPending, lost
  OVERLAPPED readOv{};
  bool readPending = false;
  std::uint8_t readByte = 0;
  std::uint8_t ahead[4096] = {};
  std::size_t aheadPos = 0;
  std::size_t aheadEnd = 0;
  bool lost = false;
  OVERLAPPED writeOv{};
  // FlushFileBuffers throws away what the driver still holds instead of
  // waiting for it (wine: tcflush); the drain then ends with the queue count.
  bool flushDiscards = false;

  ~Win32SerialObject();
  // Takes the result of the read in progress when it has ended (or, with
  // `wait`, once it ends). Called with the mutex held.
  void HarvestRead(bool wait);
  // Bytes of `ahead` not yet taken.
  std::size_t AheadCount() const { return aheadEnd - aheadPos; }
};

inline Win32SerialObject* SerialObject(SerialHandle port) {
  return port == kNoSerialHandle ? nullptr : reinterpret_cast<Win32SerialObject*>(port);
}

// The name of the kernel object an updater holds while it has `comName`
// open. Windows itself keeps a second program off an open COM port; the
// object also does where the system lets a port be opened twice (wine).
std::wstring PortClaimName(const std::wstring& deviceName);

// A read, write or status call that failed for one of these reasons means
// the device went away (a USB adapter pulled).
bool SerialDeviceGone(DWORD error);

}  // namespace bcu::platform
