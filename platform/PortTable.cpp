#include "platform/PortTable.h"

namespace bcu::platform {

const std::string& PortTable::DevicePath(int n) const {
  static const std::string kNone;
  if (n < 1 || n > kPortSlots) return kNone;
  return paths_[static_cast<std::size_t>(n - 1)];
}

void PortTable::SetDevicePath(int n, std::string path) {
  if (n < 1 || n > kPortSlots) return;
  paths_[static_cast<std::size_t>(n - 1)] = std::move(path);
}

void PortTable::Clear() {
  for (auto& p : paths_) p.clear();
}

}  // namespace bcu::platform
