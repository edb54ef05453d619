#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/PrivateFile.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

// A stream over a new handle of `path` (emptied), owner-only when the file
// is made; `reparse` false refuses a link planted under the name.
std::FILE* OpenOwnerOnly(const std::string& path, const wchar_t* mode, DWORD access,
                         bool followLinks, DWORD& error) {
  PrivateSecurity security;
  if (security.Attributes() == nullptr) {
    error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE h = ::CreateFileW(Widen(path).c_str(), access, FILE_SHARE_READ,
                                 security.Attributes(), OPEN_ALWAYS, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
    return nullptr;
  }
  if (!followLinks) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      ::CloseHandle(h);
      error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
  }
  // An existing file keeps its own ACL; it is narrowed to the owner's.
  ::SetFileSecurityW(Widen(path).c_str(),
                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                     security.Attributes()->lpSecurityDescriptor);
  if (!::SetEndOfFile(h)) {
    error = ::GetLastError();
    ::CloseHandle(h);
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    error = ERROR_GEN_FAILURE;
    ::CloseHandle(h);
    return nullptr;
  }
  std::FILE* file = ::_wfdopen(fd, mode);
  if (file == nullptr) {
    error = ERROR_GEN_FAILURE;
    ::_close(fd);
  }
  return file;
}

}  // namespace

std::FILE* OpenPrivateFile(const std::string& path, std::string& error) {
  DWORD e = 0;
  std::FILE* file = OpenOwnerOnly(path, L"w", GENERIC_READ | GENERIC_WRITE | WRITE_DAC, true, e);
  if (file == nullptr) error = path + ": " + FileErrorTextOf(e);
  return file;
}

std::FILE* CreatePrivateScratchFile(const std::string& path) {
  DWORD e = 0;
  return OpenOwnerOnly(path, L"w+b", GENERIC_READ | GENERIC_WRITE | WRITE_DAC, false, e);
}

}  // namespace bcu::platform
