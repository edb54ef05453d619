#include "platform/PortTable.h"

namespace bcu::platform {

std::string DefaultDevicePath(int n) {
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace bcu::platform
