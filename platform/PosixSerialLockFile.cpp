#include "platform/SerialLockFile.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bcu::platform {

namespace {

// A lock file that does not (yet) hold a process id is taken as being
// written for this long before it counts as stale.
constexpr std::time_t kUnreadableGraceSeconds = 2;

std::string LockPath(const std::string& folder, const std::string& devicePath) {
  return SerialLockPath(folder, devicePath);
}

enum class LockState { None, Stale, Held };

// What the lock file at `path` says; `pid` receives its process id. A lock
// file that exists but cannot be read counts as held, with `unreadable` set
// to the error; a folder this user may not search has no lock file for us.
LockState ReadLock(const std::string& path, long& pid, int* unreadable = nullptr) {
  pid = 0;
  if (unreadable) *unreadable = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) return LockState::None;
    if (e == EACCES) {
      const auto slash = path.rfind('/');
      const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
      if (::access(folder.c_str(), X_OK) != 0) return LockState::None;
    }
    if (unreadable) *unreadable = e;
    return LockState::Held;
  }
  char text[64] = {};
  ssize_t n;
  do {
    n = ::read(fd, text, sizeof text - 1);
  } while (n < 0 && errno == EINTR);
  struct stat st {};
  const bool haveStat = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (n == 4) {
    // Some older programs write the id as a 4-byte binary number.
    std::int32_t binary = 0;
    std::memcpy(&binary, text, 4);
    pid = binary;
  } else if (n > 0) {
    char* end = nullptr;
    pid = std::strtol(text, &end, 10);
    if (end == text) pid = 0;
  }
  if (pid <= 0) {
    // Empty or unreadable: another program may be writing it right now.
    const bool young = haveStat && std::time(nullptr) - st.st_mtime < kUnreadableGraceSeconds;
    return young ? LockState::Held : LockState::Stale;
  }
  if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return LockState::Held;
  return LockState::Stale;
}

// Writes this process's id to a new file at `path`; false with errno set.
bool WriteNewLock(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  char text[16];
  const int len = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
  const bool ok = ::write(fd, text, static_cast<std::size_t>(len)) == len;
  const int err = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    errno = err != 0 ? err : EIO;
  }
  return ok;
}

}  // namespace

std::string SerialLockName(const std::string& devicePath) {
  std::string real = devicePath;
  if (char* resolved = ::realpath(devicePath.c_str(), nullptr)) {
    real = resolved;
    std::free(resolved);
  }
  std::string name;
  if (real.rfind("/dev/", 0) == 0) {
    name = real.substr(5);
  } else {
    const auto slash = real.rfind('/');
    name = slash == std::string::npos ? real : real.substr(slash + 1);
  }
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

std::string SerialLockPath(const std::string& folder, const std::string& devicePath) {
  return folder + "/LCK.." + SerialLockName(devicePath);
}

long SerialLockHolder(const std::string& folder, const std::string& devicePath) {
  if (folder.empty()) return 0;
  long pid = 0;
  return ReadLock(LockPath(folder, devicePath), pid) == LockState::Held ? pid : 0;
}

SerialLockFile::~SerialLockFile() {
  Release();
}

int SerialLockFile::Acquire(const std::string& folder, const std::string& devicePath, long* holder,
                            std::string* why) {
  Release();
  if (holder) *holder = 0;
  if (why) why->clear();
  if (folder.empty()) return 0;
  const std::string path = LockPath(folder, devicePath);
  // The file is written under a name of its own and then linked into place,
  // so that nobody ever reads a lock file without its process id.
  const std::string temp = folder + "/LTMP." + std::to_string(::getpid()) + "." +
                           std::to_string(static_cast<long>(::gettid()));
  int removeError = 0;  // why the last stale lock could not be removed
  for (int attempt = 0; attempt < 5; ++attempt) {
    long pid = 0;
    int unreadable = 0;
    switch (ReadLock(path, pid, &unreadable)) {
      case LockState::Held:
        if (holder) *holder = pid;
        if (why && pid > 0)
          *why = "held by process " + std::to_string(pid) + " (its lock file " + path + ")";
        else if (why && unreadable != 0)
          *why = "the lock file " + path + " cannot be read: " + std::strerror(unreadable);
        else if (why)
          *why = "the lock file " + path + " is being written by another program";
        return EBUSY;
      case LockState::Stale:
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) removeError = errno;
        break;
      case LockState::None:
        break;
    }
    ::unlink(temp.c_str());
    if (!WriteNewLock(temp)) return 0;  // the folder takes no lock files from us
    const int linked = ::link(temp.c_str(), path.c_str());
    const int err = errno;
    ::unlink(temp.c_str());
    if (linked == 0) {
      path_ = path;
      return 0;
    }
    if (err == EEXIST) continue;  // another program was quicker: look again
    // A file system without hard links: an exclusive create instead.
    if (WriteNewLock(path)) {
      path_ = path;
      return 0;
    }
    if (errno == EEXIST) continue;
    return 0;
  }
  if (why) {
    *why = "the lock file " + path + " names no running process";
    if (removeError != 0)
      *why += " but cannot be removed (" + std::string(std::strerror(removeError)) +
              "); remove it (as its owner or root)";
  }
  return EBUSY;
}

void SerialLockFile::Release() {
  if (path_.empty()) return;
  long pid = 0;
  if (ReadLock(path_, pid) != LockState::None && pid == static_cast<long>(::getpid()))
    ::unlink(path_.c_str());
  path_.clear();
}

}  // namespace bcu::platform
