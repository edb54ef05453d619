// What Windows tells about a COM port beyond opening it: whether the system
// knows the name. There are no permission groups, no lock files and no
// modem prober to ask about, and the holder of a port is not visible to
// another program.
#include <windows.h>

#include "platform/PortFacts.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

std::string DosName(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

PortPermission PortFacts::Permission(const std::string& devicePath) {
  PortPermission p;
  wchar_t target[1024] = {};
  p.exists = ::QueryDosDeviceW(Widen(DosName(devicePath)).c_str(), target, 1023) != 0;
  p.isCharDevice = p.exists;
  p.accessible = p.exists;
  return p;
}

std::vector<PortHolder> PortFacts::Holders(const std::string&) {
  return {};
}

std::string PortFacts::CommandOf(long) {
  return {};
}

bool PortFacts::ProcessRunning(const std::string&) {
  return false;
}

std::string PortFacts::DeviceProperty(const std::string&, const std::string&) {
  return {};
}

std::string PortFacts::DriverName(const std::string& devicePath) {
  wchar_t target[1024] = {};
  if (::QueryDosDeviceW(Widen(DosName(devicePath)).c_str(), target, 1023) == 0) return {};
  return Narrow(target);  // the kernel's device object ("\Device\Serial0")
}

int PortFacts::LatencyTimerMs(const std::string&) {
  return -1;
}

std::string PortFacts::LatencyTimerFile(const std::string&) {
  return {};
}

PortFacts& SystemPortFacts() {
  static PortFacts system;
  return system;
}

std::string TtyName(const std::string& devicePath) {
  return DosName(devicePath);
}

}  // namespace bcu::platform
