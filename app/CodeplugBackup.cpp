#include "app/CodeplugBackup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace bcu::app {

std::string CodeplugBackupFileName(const std::string& serial, std::time_t when) {
  std::string clean;
  for (const char c : serial) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) clean += c;
  }
  if (clean.empty()) clean = "unknown";
  std::tm local{};
  localtime_r(&when, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return "codeplug-backup-" + clean + "-" + stamp + ".bin";
}

namespace {

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string WriteCodeplugBackup(const std::string& directory, const std::string& serial,
                                const std::uint8_t* bytes, std::size_t count, std::time_t when) {
  const std::string name = CodeplugBackupFileName(serial, when);
  const std::string stem = name.substr(0, name.size() - 4);
  const std::string prefix =
      directory.empty() ? std::string() : (directory.back() == '/' ? directory : directory + "/");
  for (int attempt = 1; attempt < 100; ++attempt) {
    const std::string path =
        prefix + (attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".bin");
    // O_EXCL: never overwrite an earlier backup.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return {};
    }
    const bool written = WriteAll(fd, bytes, count) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (written && closed) return path;
    ::unlink(path.c_str());
    return {};
  }
  return {};
}

bool ReadCodeplugBytes(const std::string& path, std::uint8_t* bytes, std::size_t capacity,
                       std::size_t& count) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  count = std::fread(bytes, 1, capacity, file);
  const bool error = std::ferror(file) != 0;
  const bool more = std::fgetc(file) != EOF;
  std::fclose(file);
  return !error && !more;
}

}  // namespace bcu::app
