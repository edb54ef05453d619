#include <windows.h>

#include "platform/SystemInfo.h"

namespace bcu::platform {

unsigned LogicalProcessorCount() {
  SYSTEM_INFO info{};
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace bcu::platform
