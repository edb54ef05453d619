#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/AppendFile.h"
#include "platform/FileErrors.h"
#include "platform/FileModes.h"

namespace bcu::platform {

namespace {

bool Failed(const std::string& path, std::string& error) {
  error = path + ": " + FileErrorText(errno);
  return false;
}

// Syncs the folder that holds `path`, so that a new file's name survives a
// crash as well as its contents.
void SyncFolderOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool AppendLines(const std::string& path, std::string_view lines, std::string& error) {
  bool created = false;
  int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC,
                static_cast<mode_t>(kPrivateFileMode));
    created = fd >= 0;
  }
  if (fd < 0) return Failed(path, error);
  const auto fail = [&](int e) {
    ::close(fd);
    errno = e;
    return Failed(path, error);
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno);
  if (!S_ISREG(st.st_mode)) return fail(EINVAL);
  if ((st.st_mode & 0777) != kPrivateFileMode &&
      ::fchmod(fd, static_cast<mode_t>(kPrivateFileMode)) != 0)
    return fail(errno);
  const off_t before = st.st_size;
  std::string text;
  text.reserve(lines.size() + 1);
  char last = '\n';
  if (before > 0 && ::pread(fd, &last, 1, before - 1) != 1) last = '\n';
  if (last != '\n') text += '\n';
  text.append(lines);

  // One write puts everything at the end; a short one (a full disk, a
  // signal) goes on where it stopped.
  std::size_t done = 0;
  int e = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      e = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (e == 0 && ::fsync(fd) != 0) e = errno;
  if (e != 0) {
    if (::ftruncate(fd, before) == 0) ::fsync(fd);
    return fail(e);
  }
  if (::close(fd) != 0) return Failed(path, error);
  if (created) SyncFolderOf(path);
  return true;
}

}  // namespace bcu::platform
