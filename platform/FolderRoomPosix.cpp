#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FolderRoom.h"

namespace bcu::platform {

FolderRoom QueryFolderRoom(const std::string& folder) {
  FolderRoom room;
  // Each missing folder on the way is made owner-only.
  for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
    const std::string part = folder.substr(0, at);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      room.error = folder + ": " + std::strerror(errno);
      return room;
    }
    if (at == std::string::npos) break;
  }
  const std::string probe = folder + "/.room-check-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    room.error = folder + ": " + std::strerror(errno);
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
