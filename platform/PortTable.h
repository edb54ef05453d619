#pragma once
// Where COM port number n (1 to 64) lives on this machine. The port list fills
// one table per updater; the link resolves the selected number through it, so
// two updaters in one process can use different tables.
#include <array>
#include <string>

namespace bcu::platform {

inline constexpr int kPortSlots = 64;

class PortTable {
 public:
  // Device path of port n (1..64); empty when the slot has no device.
  const std::string& DevicePath(int n) const;
  void SetDevicePath(int n, std::string path);
  void Clear();

 private:
  std::array<std::string, kPortSlots> paths_{};
};

// Without a table, port n is the n-th on-board serial port: /dev/ttyS<n-1>
// on Linux, \\.\COM<n> on Windows.
std::string DefaultDevicePath(int n);

}  // namespace bcu::platform
