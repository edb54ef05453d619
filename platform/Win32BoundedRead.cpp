#include <windows.h>

#include "platform/BoundedRead.h"
#include "platform/FileErrors.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

bool ReadFileBounded(const std::string& path, std::size_t maxBytes,
                     std::vector<std::uint8_t>& bytes, std::string& error, bool* tooLarge) {
  if (tooLarge != nullptr) *tooLarge = false;
  const auto fail = [&](const std::string& reason) {
    error = path + ": " + reason;
    return false;
  };
  const std::string tooLargeText = "larger than " + std::to_string(maxBytes) + " bytes";
  const std::wstring wide = Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return fail(FileErrorText(EISDIR));
  const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return fail(FileErrorTextOf(::GetLastError()));
  LARGE_INTEGER size{};
  if (::GetFileType(h) == FILE_TYPE_DISK && ::GetFileSizeEx(h, &size) &&
      static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
    ::CloseHandle(h);
    if (tooLarge != nullptr) *tooLarge = true;
    return fail(tooLargeText);
  }
  std::vector<std::uint8_t> data(maxBytes + 1);
  std::size_t count = 0;
  while (count < data.size()) {
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(data.size() - count, 1u << 20));
    if (!::ReadFile(h, data.data() + count, ask, &n, nullptr)) {
      const DWORD e = ::GetLastError();
      if (e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF) break;
      ::CloseHandle(h);
      return fail(FileErrorTextOf(e));
    }
    if (n == 0) break;
    count += n;
  }
  ::CloseHandle(h);
  if (count > maxBytes) {
    if (tooLarge != nullptr) *tooLarge = true;
    return fail(tooLargeText);
  }
  data.resize(count);
  bytes = std::move(data);
  return true;
}

}  // namespace bcu::platform
