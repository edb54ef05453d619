#include "platform/PortDiscovery.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/PortFacts.h"
#include "platform/SerialLockFile.h"

namespace bcu::platform {

namespace {

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The kernel registers a fixed number of 8250 ports whether or not a UART is
// behind them; reading and writing such a phantom port just hangs the link.
// The driver reports their type as unknown (PORT_UNKNOWN). This asks the
// driver where sysfs does not say; a port we may not open is kept (it shows
// grey with the reason).
bool Has8250Hardware(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EPERM || errno == EBUSY;
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0 ? info.type != PORT_UNKNOWN : true;
  ::close(fd);
  return known;
}

}  // namespace

bool SystemPortDiscovery::ListDevices(std::vector<SerialDeviceInfo>& devices) {
  devices.clear();
  std::unique_ptr<udev, UdevDeleter> context(udev_new());
  if (!context) return false;
  std::unique_ptr<udev_enumerate, UdevDeleter> scan(udev_enumerate_new(context.get()));
  if (!scan) return false;
  if (udev_enumerate_add_match_subsystem(scan.get(), "tty") < 0) return false;
  // Only the names a serial port can have: the scan then skips the console,
  // the virtual terminals and the pty master before it looks at any of them
  // (dozens of devices, each a walk through sysfs).
  for (const char* pattern : {"ttyS*", "ttyUSB*", "ttyACM*"})
    if (udev_enumerate_add_match_sysname(scan.get(), pattern) < 0) return false;
  if (udev_enumerate_scan_devices(scan.get()) < 0) return false;

  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    udev_device* device =
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry));
    if (device == nullptr) continue;
    const char* sysname = udev_device_get_sysname(device);
    const std::string name = sysname != nullptr ? sysname : "";
    const bool onBoard = StartsWith(name, "ttyS");
    const bool usb = StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
    udev_device* parent = udev_device_get_parent(device);
    if ((onBoard || usb) && parent != nullptr) {
      const char* node = udev_device_get_devnode(device);
      SerialDeviceInfo info{node != nullptr ? node : "/dev/" + name, name, {}};
      bool keep = true;
      if (onBoard) {
        // The serial core publishes the UART type; 0 is a phantom port.
        const char* type = udev_device_get_sysattr_value(device, "type");
        keep = type != nullptr ? std::strcmp(type, "0") != 0 : Has8250Hardware(info.path);
      } else {
        udev_device* usbDevice =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        const char* product =
            usbDevice != nullptr ? udev_device_get_sysattr_value(usbDevice, "product") : nullptr;
        if (product != nullptr) info.product = product;
      }
      if (keep) devices.push_back(std::move(info));
    }
    udev_device_unref(device);
  }
  std::stable_sort(devices.begin(), devices.end(),
                   [](const auto& a, const auto& b) { return NaturalLess(a.name, b.name); });
  return true;
}

PortTestResult SystemPortDiscovery::TestOpen(const std::string& path) {
  return TestOpenDevice(path, lockFolder_);
}

PortTestResult TestOpenDevice(const std::string& path, const std::string& lockFolder) {
  PortTestResult result;
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    result.systemError = errno;
    switch (errno) {
      case EACCES:
      case EPERM:
        result.access = PortAccess::NoPermission;
        break;
      case ENOENT:
      case ENODEV:
      case ENXIO:
        result.access = PortAccess::Missing;
        break;
      case EBUSY:
        result.access = PortAccess::Busy;
        break;
      default:
        result.access = PortAccess::Failed;
        break;
    }
    return result;
  }
  // The link takes the same lock; a port another updater (or this one) holds
  // fails here even for root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    result.systemError = errno;
    result.access = (errno == EWOULDBLOCK) ? PortAccess::Busy : PortAccess::Failed;
  } else if (const long holder = SerialLockHolder(lockFolder, path); holder != 0) {
    // A terminal program that keeps only a lock file.
    result.systemError = EBUSY;
    result.access = PortAccess::Busy;
    result.lockHolder = holder;
    result.lockFile = SerialLockPath(lockFolder, path);
  } else {
    result.access = PortAccess::Free;
  }
  ::close(fd);
  return result;
}

std::string PortAccessText(const PortTestResult& result) {
  switch (result.access) {
    case PortAccess::Free:
      return {};
    case PortAccess::Busy:
      if (result.lockHolder != 0)
        return "in use by another program (process " + std::to_string(result.lockHolder) +
               ", by its lock file)";
      return "in use by another program";
    case PortAccess::NoPermission:
      return "permission denied: add your user to the dialout group "
             "(sudo usermod -aG dialout $USER) and log in again";
    case PortAccess::Missing:
      return "no such device";
    case PortAccess::Failed:
      break;
  }
  return std::string("cannot be opened: ") + std::strerror(result.systemError);
}

}  // namespace bcu::platform

namespace bcu::platform {

std::string PortProblemText(const std::string& path, const PortTestResult& result) {
  PortFacts& facts = SystemPortFacts();
  std::string text = path + ": ";
  switch (result.access) {
    case PortAccess::Free:
      return text + "free";
    case PortAccess::Busy: {
      std::string who;
      if (result.lockHolder != 0) {
        const std::string command = facts.CommandOf(result.lockHolder);
        who = (command.empty() ? "" : command + " ") + "(process " +
              std::to_string(result.lockHolder) + ", its lock file " + result.lockFile + ")";
      }
      for (const auto& h : facts.Holders(path)) {
        if (h.pid == result.lockHolder) continue;
        who += (who.empty() ? "" : ", ") + (h.command.empty() ? "" : h.command + " ") +
               "(process " + std::to_string(h.pid) + ")";
      }
      return text + "in use by " +
             (who.empty()
                  ? std::string("another program (`bcu doctor --port ") + path + "` looks for it)"
                  : who);
    }
    case PortAccess::NoPermission: {
      const PortPermission perm = facts.Permission(path);
      const std::string group = perm.group.empty() ? std::string("dialout") : perm.group;
      text += std::strerror(result.systemError != 0 ? result.systemError : EACCES);
      if (perm.inGroupListed && !perm.inGroupNow)
        return text + "; you were added to the " + group +
               " group after this session started: log out and in again";
      return text + "; add your user to the " + group + " group (sudo usermod -aG " + group +
             " $USER) and log in again, or give the port the uaccess tag with a udev rule";
    }
    case PortAccess::Missing:
    case PortAccess::Failed:
      break;
  }
  return text + std::strerror(result.systemError != 0 ? result.systemError : ENOENT);
}

}  // namespace bcu::platform
