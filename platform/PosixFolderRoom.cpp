#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileErrors.h"
#include "platform/FolderRoom.h"
#include "platform/Folders.h"

namespace bcu::platform {

FolderRoom QueryFolderRoom(const std::string& folder) {
  FolderRoom room;
  std::string error;
  if (!MakePrivateFolders(folder, error)) {
    room.error = error;
    return room;
  }
  const std::string probe = JoinPath(folder, ".room-check-" + std::to_string(::getpid()));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    room.error = folder + ": " + FileErrorText(errno);
    return room;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  room.writable = true;
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) == 0)
    room.freeBytes = static_cast<std::uintmax_t>(fs.f_bavail) * fs.f_frsize;
  return room;
}

}  // namespace bcu::platform
