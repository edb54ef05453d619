#include "platform/PortTable.h"

namespace bcu::platform {

std::string DefaultDevicePath(int n) {
  return "\\\\.\\COM" + std::to_string(n);
}

}  // namespace bcu::platform
