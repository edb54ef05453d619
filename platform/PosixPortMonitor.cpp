#include "platform/PortMonitor.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

namespace bcu::platform {

struct SystemPortMonitor::Impl {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
};

SystemPortMonitor::SystemPortMonitor() : impl_(std::make_unique<Impl>()) {}

SystemPortMonitor::~SystemPortMonitor() {
  if (impl_->monitor != nullptr) udev_monitor_unref(impl_->monitor);
  if (impl_->context != nullptr) udev_unref(impl_->context);
}

bool SystemPortMonitor::Start(std::string& error) {
  impl_->context = udev_new();
  if (impl_->context == nullptr) {
    error = "udev is not available";
    return false;
  }
  impl_->monitor = udev_monitor_new_from_netlink(impl_->context, "udev");
  if (impl_->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(impl_->monitor) < 0) {
    error = std::string("cannot listen to udev: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool SystemPortMonitor::Next(PortEvent& event, int timeoutMs) {
  if (impl_->monitor == nullptr) return false;
  pollfd p{udev_monitor_get_fd(impl_->monitor), POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return false;
  udev_device* device = udev_monitor_receive_device(impl_->monitor);
  if (device == nullptr) return false;
  bool wanted = false;
  const char* action = udev_device_get_action(device);
  const char* node = udev_device_get_devnode(device);
  const char* name = udev_device_get_sysname(device);
  if (action != nullptr && node != nullptr && name != nullptr &&
      (std::strncmp(name, "ttyUSB", 6) == 0 || std::strncmp(name, "ttyACM", 6) == 0)) {
    if (std::strcmp(action, "add") == 0) {
      event = PortEvent{PortEvent::Kind::Added, node};
      wanted = true;
    } else if (std::strcmp(action, "remove") == 0) {
      event = PortEvent{PortEvent::Kind::Removed, node};
      wanted = true;
    }
  }
  udev_device_unref(device);
  return wanted;
}

}  // namespace bcu::platform
