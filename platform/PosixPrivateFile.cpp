#include "platform/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bcu::platform {

std::FILE* OpenPrivateFile(const std::string& path, std::string& error) {
  // Not O_TRUNC: a file whose mode cannot be narrowed keeps its contents.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, static_cast<mode_t>(kPrivateFileMode));
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::fchmod(fd, static_cast<mode_t>(kPrivateFileMode)) != 0 || ::ftruncate(fd, 0) != 0) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
  }
  return file;
}

std::FILE* CreatePrivateScratchFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(kPrivateFileMode));
  std::FILE* file = fd >= 0 ? ::fdopen(fd, "w+b") : nullptr;
  if (fd >= 0 && file == nullptr) ::close(fd);
  return file;
}

}  // namespace bcu::platform
