#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

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
  // The probe's name is this thread's own: the radios of a fleet ask at the
  // same moment, in one process. A name that is taken (a probe left by a run
  // that ended in between) moves on to the next one.
  const std::string base = JoinPath(
      folder, ".room-check-" + std::to_string(::getpid()) + "-" +
                  std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id())) + "-");
  std::string probe;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    probe = base + std::to_string(attempt);
    fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
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
