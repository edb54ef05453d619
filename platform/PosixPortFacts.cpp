#include "platform/PortFacts.h"

#include <dirent.h>
#include <grp.h>
#include <libudev.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace bcu::platform {

namespace {

std::string RealPath(const std::string& path) {
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    std::string out = resolved;
    std::free(resolved);
    return out;
  }
  return path;
}

std::string ReadLink(const std::string& path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// Calls `each(pid)` for every process directory in /proc.
template <typename F>
void ForEachProcess(F each) {
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return;
  while (dirent* e = ::readdir(proc.get())) {
    if (AllDigits(e->d_name)) each(std::strtol(e->d_name, nullptr, 10));
  }
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : S_ISDIR(mode) ? "d" : "-";
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; ++i) text += (mode & (0400 >> i)) ? letters[i] : '-';
  return text;
}

}  // namespace

std::string TtyName(const std::string& devicePath) {
  const std::string real = RealPath(devicePath);
  const auto slash = real.rfind('/');
  return slash == std::string::npos ? real : real.substr(slash + 1);
}

PortPermission PortFacts::Permission(const std::string& devicePath) {
  PortPermission p;
  p.root = ::geteuid() == 0;
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0) return p;
  p.exists = true;
  p.isCharDevice = S_ISCHR(st.st_mode);
  p.mode = ModeText(st.st_mode);
  p.accessible = ::access(devicePath.c_str(), R_OK | W_OK) == 0;
  if (const group* g = ::getgrgid(st.st_gid)) {
    p.group = g->gr_name;
    if (const passwd* pw = ::getpwuid(::getuid())) {
      for (char** m = g->gr_mem; m && *m; ++m)
        if (std::string(*m) == pw->pw_name) p.inGroupListed = true;
      if (pw->pw_gid == st.st_gid) p.inGroupListed = true;
    }
  }
  p.inGroupNow = ::getegid() == st.st_gid;
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    if (::getgroups(n, groups.data()) == n)
      p.inGroupNow =
          p.inGroupNow || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
  }
  return p;
}

std::vector<PortHolder> PortFacts::Holders(const std::string& devicePath) {
  std::vector<PortHolder> holders;
  const std::string real = RealPath(devicePath);
  const long self = static_cast<long>(::getpid());
  ForEachProcess([&](long pid) {
    if (pid == self) return;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir(fdDir.c_str()), ::closedir);
    if (!fds) return;  // another user's process, as a normal user
    while (dirent* e = ::readdir(fds.get())) {
      if (!AllDigits(e->d_name)) continue;
      if (ReadLink(fdDir + "/" + e->d_name) == real) {
        holders.push_back({pid, CommandOf(pid)});
        break;
      }
    }
  });
  return holders;
}

std::string PortFacts::CommandOf(long pid) {
  return FirstLine("/proc/" + std::to_string(pid) + "/comm");
}

bool PortFacts::ProcessRunning(const std::string& command) {
  bool found = false;
  ForEachProcess([&](long pid) {
    if (!found && CommandOf(pid) == command) found = true;
  });
  return found;
}

std::string PortFacts::DeviceProperty(const std::string& devicePath, const std::string& key) {
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  udev* context = udev_new();
  if (context == nullptr) return {};
  std::string value;
  if (udev_device* device = udev_device_new_from_devnum(context, 'c', st.st_rdev)) {
    if (const char* v = udev_device_get_property_value(device, key.c_str())) value = v;
    udev_device_unref(device);
  }
  udev_unref(context);
  return value;
}

std::string PortFacts::DriverName(const std::string& devicePath) {
  // Newer kernels put the serial core's own "port" and "ctrl" devices between
  // the tty and the hardware: the first driver above them names the hardware.
  std::string device = RealPath("/sys/class/tty/" + TtyName(devicePath) + "/device");
  while (device.rfind("/sys/devices/", 0) == 0) {
    const std::string driver = RealPath(device + "/driver");
    if (driver != device + "/driver" && driver.find("/bus/serial-base/") == std::string::npos) {
      const auto slash = driver.rfind('/');
      return driver.substr(slash + 1);
    }
    device = device.substr(0, device.rfind('/'));
  }
  return {};
}

int PortFacts::LatencyTimerMs(const std::string& devicePath) {
  const std::string text = FirstLine(LatencyTimerFile(devicePath));
  if (text.empty() || !AllDigits(text.c_str())) return -1;
  return std::atoi(text.c_str());
}

std::string PortFacts::LatencyTimerFile(const std::string& devicePath) {
  return "/sys/class/tty/" + TtyName(devicePath) + "/device/latency_timer";
}

PortFacts& SystemPortFacts() {
  static PortFacts system;
  return system;
}

}  // namespace bcu::platform
