#include "platform/BoundedRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/FileErrors.h"

namespace bcu::platform {

bool ReadFileBounded(const std::string& path, std::size_t maxBytes,
                     std::vector<std::uint8_t>& bytes, std::string& error, bool* tooLarge) {
  if (tooLarge != nullptr) *tooLarge = false;
  const auto fail = [&](const std::string& reason) {
    error = path + ": " + reason;
    return false;
  };
  const std::string tooLargeText = "larger than " + std::to_string(maxBytes) + " bytes";
  // Opened without waiting: a FIFO nobody writes to would block the open
  // (and then every read) for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(FileErrorText(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      return fail(FileErrorText(EISDIR));
    }
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
      ::close(fd);
      return fail(std::string("not a regular file (") +
                  (S_ISFIFO(st.st_mode) ? "a FIFO" : "a socket") + ")");
    }
    if (S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
      ::close(fd);
      if (tooLarge != nullptr) *tooLarge = true;
      return fail(tooLargeText);
    }
  }
  // The reads block again (a device may have to wait for its bytes).
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::vector<std::uint8_t> data(maxBytes + 1);
  std::size_t count = 0;
  while (count < data.size()) {
    const ssize_t n = ::read(fd, data.data() + count, data.size() - count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return fail(FileErrorText(e));
    }
    if (n == 0) break;
    count += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (count > maxBytes) {
    if (tooLarge != nullptr) *tooLarge = true;
    return fail(tooLargeText);
  }
  data.resize(count);
  bytes = std::move(data);
  return true;
}

}  // namespace bcu::platform
