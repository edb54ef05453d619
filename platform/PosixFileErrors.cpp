#include <cerrno>
#include <cstring>

#include "platform/FileErrors.h"

namespace bcu::platform {

std::string SystemFileErrorText(int error) {
  if (error == EDQUOT) return "the disk is full";
  return std::strerror(error);
}

}  // namespace bcu::platform
