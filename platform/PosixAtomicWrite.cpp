#include "platform/AtomicWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/FileErrors.h"

namespace bcu::platform {

namespace {

constexpr std::size_t kMaxTempStem = 64;  // of the target's name, in the temporary's

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the rename itself durable. A folder that cannot be synced (some file
// systems refuse) does not undo a rename that has happened.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Puts `temp` in place at `path` only when nothing is there yet.
int RenameNoReplace(const std::string& temp, const std::string& path) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link fails just as well on a taken name.
  if (::link(temp.c_str(), path.c_str()) != 0) return errno;
  ::unlink(temp.c_str());
  return 0;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                         const AtomicWriteOptions& options, std::string& error) {
  const auto fail = [&](const std::string& reason) {
    error = path + ": " + reason;
    return false;
  };
  if (path.empty()) return fail("no file name");
  if (path.back() == '/') return fail(FileErrorText(EISDIR));
  const std::size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  // A name of our own beside the target; a dot hides it from listings.
  std::random_device entropy;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp-%d-%08x", static_cast<int>(::getpid()),
                  static_cast<unsigned>(entropy()));
    temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
           name.substr(0, kMaxTempStem) + suffix;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, options.mode);
    if (fd < 0 && errno != EEXIST) {
      const int e = errno;
      if (e == ENOENT) return fail("the folder " + folder + " does not exist");
      if (e == EACCES || e == EPERM)
        return fail("permission denied (cannot create files in " + folder + ")");
      return fail(FileErrorText(e));
    }
  }
  if (fd < 0) return fail("no free temporary name in " + folder);

  const auto discard = [&](int e) {
    ::unlink(temp.c_str());
    return fail(FileErrorText(e));
  };
  if (!WriteAll(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) {
    const int e = errno;
    ::close(fd);
    return discard(e);
  }
  if (::close(fd) != 0) return discard(errno);

  if (options.existing == ExistingFile::kKeep) {
    const int e = RenameNoReplace(temp, path);
    if (e != 0) return discard(e);
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    return discard(errno);
  }
  SyncFolder(folder);
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view text,
                         const AtomicWriteOptions& options, std::string& error) {
  return WriteFileAtomically(path,
                             std::span<const std::uint8_t>(
                                 reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                             options, error);
}

}  // namespace bcu::platform
