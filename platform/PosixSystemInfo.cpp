#include "platform/SystemInfo.h"

#include <unistd.h>

#include <thread>

namespace bcu::platform {

unsigned LogicalProcessorCount() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return static_cast<unsigned>(online);
  const unsigned hinted = std::thread::hardware_concurrency();
  return hinted > 0 ? hinted : 1;
}

}  // namespace bcu::platform
