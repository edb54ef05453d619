#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/AppendFile.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

bool Failed(const std::string& path, DWORD code, std::string& error) {
  error = path + ": " + FileErrorTextOf(code);
  return false;
}

// Cuts the file back to `length` after a failed write, through a handle that
// may change its size (the append handle may only add at the end).
void CutBack(const std::wstring& path, LONGLONG length) {
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER at{};
  at.QuadPart = length;
  if (::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(h)) ::FlushFileBuffers(h);
  ::CloseHandle(h);
}

}  // namespace

bool AppendLines(const std::string& path, std::string_view lines, std::string& error) {
  PrivateSecurity security;
  if (security.Attributes() == nullptr) return Failed(path, ERROR_ACCESS_DENIED, error);
  const std::wstring wide = Widen(path);
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file, wherever another writer left it.
  const HANDLE h =
      ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                    security.Attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(path, ::GetLastError(), error);
  // An existing file keeps its own ACL; it is narrowed to the owner's.
  ::SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                     security.Attributes()->lpSecurityDescriptor);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size)) {
    const DWORD e = ::GetLastError();
    ::CloseHandle(h);
    return Failed(path, e, error);
  }
  std::string text;
  text.reserve(lines.size() + 1);
  if (size.QuadPart > 0) {
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED at{};
    const ULONGLONG offset = static_cast<ULONGLONG>(size.QuadPart - 1);
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (::ReadFile(h, &last, 1, &got, &at) && got == 1 && last != '\n') text += '\n';
  }
  text.append(lines);

  DWORD e = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!::WriteFile(h, text.data() + done, chunk, &wrote, nullptr)) {
      e = ::GetLastError();
      break;
    }
    if (wrote == 0) {
      e = ERROR_DISK_FULL;
      break;
    }
    done += wrote;
  }
  if (e == 0 && !::FlushFileBuffers(h)) e = ::GetLastError();
  ::CloseHandle(h);
  if (e != 0) {
    CutBack(wide, size.QuadPart);
    return Failed(path, e, error);
  }
  return true;
}

}  // namespace bcu::platform
