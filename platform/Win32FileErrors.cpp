#include <cerrno>
#include <cstring>

#include "platform/FileErrors.h"

namespace bcu::platform {

std::string SystemFileErrorText(int error) {
  if (error == EBUSY) return "in use by another program";
  return std::strerror(error);
}

}  // namespace bcu::platform
