#include <windows.h>

#include <string>

#include "platform/FolderRoom.h"
#include "platform/Folders.h"
#include "platform/Win32Private.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

FolderRoom QueryFolderRoom(const std::string& folder) {
  FolderRoom room;
  std::string error;
  if (!MakePrivateFolders(folder, error)) {
    room.error = error;
    return room;
  }
  // The probe's name is this thread's own: the radios of a fleet ask at the
  // same moment, in one process. A name that is taken moves on to the next.
  const std::string base =
      JoinPath(folder, ".room-check-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(::GetCurrentThreadId()) + "-");
  PrivateSecurity security;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD lastError = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    // Removed by the system when the handle closes, even if the program ends
    // in between.
    h = ::CreateFileW(Widen(base + std::to_string(attempt)).c_str(), GENERIC_WRITE | DELETE, 0,
                      security.Attributes(), CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) lastError = ::GetLastError();
    if (h == INVALID_HANDLE_VALUE && lastError != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) {
    room.error = folder + ": " + FileErrorTextOf(lastError);
    return room;
  }
  ::CloseHandle(h);
  room.writable = true;
  ULARGE_INTEGER available{};
  if (::GetDiskFreeSpaceExW(Widen(folder).c_str(), &available, nullptr, nullptr))
    room.freeBytes = static_cast<std::uintmax_t>(available.QuadPart);
  return room;
}

}  // namespace bcu::platform
