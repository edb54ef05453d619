#include <windows.h>

#include "platform/FileLock.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

FileLock::FileLock(const std::string& lockPath, std::string& error) {
  PrivateSecurity security;
  const HANDLE h =
      ::CreateFileW(Widen(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.Attributes(),
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = lockPath + ": " + FileErrorTextOf(::GetLastError());
    return;
  }
  OVERLAPPED at{};
  if (!::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    error = lockPath + ": " + FileErrorTextOf(::GetLastError());
    ::CloseHandle(h);
    return;
  }
  native_ = reinterpret_cast<std::intptr_t>(h);
}

FileLock::~FileLock() {
  if (native_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native_));  // unlocks
}

}  // namespace bcu::platform
