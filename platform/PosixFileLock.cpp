#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/FileErrors.h"
#include "platform/FileLock.h"

namespace bcu::platform {

FileLock::FileLock(const std::string& lockPath, std::string& error) {
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = lockPath + ": " + FileErrorText(errno);
    return;
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error = lockPath + ": " + FileErrorText(errno);
    ::close(fd);
    return;
  }
  native_ = fd;
}

FileLock::~FileLock() {
  if (native_ >= 0) ::close(static_cast<int>(native_));  // closing lets the lock go
}

}  // namespace bcu::platform
