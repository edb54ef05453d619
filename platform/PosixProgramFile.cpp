#include <unistd.h>

#include "platform/ProgramFile.h"

namespace bcu::platform {

std::string ProgramFilePath(const std::string& fallback) {
  std::vector<char> buffer(4096);
  const auto n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return fallback;
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace bcu::platform
