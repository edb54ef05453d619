// COM ports on Windows: the Ports class of the device setup interface
// (SetupAPI) gives each port's friendly name and its USB hardware ids, so
// that an interface box is recognised; the list of serial devices the system
// keeps (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) adds ports that the setup
// interface does not list (and is all there is where it has none).
#include <windows.h>
// (before the headers that build on it)
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "platform/PortDiscovery.h"
#include "platform/Win32SerialObject.h"
#include "platform/Win32Text.h"

namespace bcu::platform {

namespace {

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string DefaultPath(const std::string& comName) {
  return "\\\\.\\" + comName;
}

// "COM12" for a name the system lists; empty for anything else (LPT1, ...).
std::string ComName(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper.size() < 4 || upper.rfind("COM", 0) != 0) return {};
  for (std::size_t i = 3; i < upper.size(); ++i)
    if (upper[i] < '0' || upper[i] > '9') return {};
  return upper;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD type = 0;
  DWORD size = 0;
  std::vector<BYTE> buffer(256);
  while (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, buffer.data(),
                                              static_cast<DWORD>(buffer.size()), &size)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size()) return {};
    buffer.assign(size * 2, 0);
  }
  if (type != REG_SZ && type != REG_MULTI_SZ) return {};
  const auto* text = reinterpret_cast<const wchar_t*>(buffer.data());
  return Narrow(std::wstring(text, ::wcsnlen(text, buffer.size() / sizeof(wchar_t))));
}

// "USB 0403:6001" from a hardware id "USB\VID_0403&PID_6001&REV_0600".
std::string UsbIds(const std::string& hardwareId) {
  const std::string upper = Upper(hardwareId);
  const auto vid = upper.find("VID_");
  const auto pid = upper.find("PID_");
  if (vid == std::string::npos || pid == std::string::npos) return {};
  return "USB " + upper.substr(vid + 4, 4) + ":" + upper.substr(pid + 4, 4);
}

void FromSetupApi(std::map<std::string, SerialDeviceInfo>& ports) {
  const HDEVINFO set =
      ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    std::string portName;
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key != INVALID_HANDLE_VALUE) {
      wchar_t value[64] = {};
      DWORD size = sizeof value - sizeof(wchar_t);
      DWORD type = 0;
      if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &size) == ERROR_SUCCESS &&
          type == REG_SZ)
        portName = Narrow(value);
      ::RegCloseKey(key);
    }
    const std::string com = ComName(portName);
    if (com.empty()) continue;
    std::string product = Property(set, device, SPDRP_FRIENDLYNAME);
    if (product.empty()) product = Property(set, device, SPDRP_DEVICEDESC);
    const std::string ids = UsbIds(Property(set, device, SPDRP_HARDWAREID));
    if (!ids.empty()) product += (product.empty() ? "" : " ") + std::string("[") + ids + "]";
    ports[com] = SerialDeviceInfo{DefaultPath(com), com, product};
  }
  ::SetupDiDestroyDeviceInfoList(set);
}

bool FromSerialComm(std::map<std::string, SerialDeviceInfo>& ports) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256] = {};
    wchar_t data[64] = {};
    DWORD nameSize = 255;
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r = ::RegEnumValueW(key, i, name, &nameSize, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data), &dataSize);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::string com = ComName(Narrow(data));
    if (!com.empty() && ports.find(com) == ports.end())
      ports[com] = SerialDeviceInfo{DefaultPath(com), com, {}};
  }
  ::RegCloseKey(key);
  return true;
}

}  // namespace

bool SystemPortDiscovery::ListDevices(std::vector<SerialDeviceInfo>& devices) {
  devices.clear();
  std::map<std::string, SerialDeviceInfo> ports;
  FromSetupApi(ports);
  const bool listed = FromSerialComm(ports);
  if (ports.empty() && !listed) return true;  // a system without serial ports
  for (auto& [name, info] : ports) devices.push_back(std::move(info));
  std::stable_sort(devices.begin(), devices.end(),
                   [](const auto& a, const auto& b) { return NaturalLess(a.name, b.name); });
  return true;
}

PortTestResult SystemPortDiscovery::TestOpen(const std::string& path) {
  return TestOpenDevice(path, lockFolder_);
}

PortTestResult TestOpenDevice(const std::string& path, const std::string&) {
  PortTestResult result;
  const std::string com = ComName(path);
  const std::wstring name = Widen(com.empty() ? path : DefaultPath(com));
  // No sharing, as the link opens it: a port another program holds answers
  // "access denied".
  const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    result.systemError = static_cast<int>(e);
    switch (e) {
      case ERROR_ACCESS_DENIED:
      case ERROR_SHARING_VIOLATION:
        result.access = PortAccess::Busy;
        break;
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
        result.access = PortAccess::Missing;
        break;
      default:
        result.access = PortAccess::Failed;
    }
    return result;
  }
  ::CloseHandle(h);
  // Another updater holds the port (where the system lets a port be opened
  // twice, its claim is what tells).
  if (const HANDLE claim = ::OpenMutexW(SYNCHRONIZE, FALSE, PortClaimName(name).c_str())) {
    ::CloseHandle(claim);
    result.access = PortAccess::Busy;
    result.systemError = ERROR_ACCESS_DENIED;
    return result;
  }
  result.access = PortAccess::Free;
  return result;
}

std::string PortAccessText(const PortTestResult& result) {
  switch (result.access) {
    case PortAccess::Free:
      return {};
    case PortAccess::Busy:
      return "in use by another program";
    case PortAccess::NoPermission:
      return "access denied";
    case PortAccess::Missing:
      return "no such device";
    case PortAccess::Failed:
      break;
  }
  return "cannot be opened: " + SystemErrorText(static_cast<DWORD>(result.systemError));
}

std::string PortProblemText(const std::string& path, const PortTestResult& result) {
  if (result.access == PortAccess::Free) return path + ": free";
  return path + ": " + PortAccessText(result) +
         (result.access == PortAccess::Busy ? " (`bcu doctor --port " + path + "` looks for it)"
                                            : std::string());
}

}  // namespace bcu::platform
