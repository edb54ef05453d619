#include <windows.h>

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
  const std::string probe =
      JoinPath(folder, ".room-check-" + std::to_string(::GetCurrentProcessId()));
  PrivateSecurity security;
  // Removed by the system when the handle closes, even if the program ends
  // in between.
  const HANDLE h =
      ::CreateFileW(Widen(probe).c_str(), GENERIC_WRITE | DELETE, 0, security.Attributes(),
                    CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    room.error = folder + ": " + FileErrorTextOf(::GetLastError());
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
