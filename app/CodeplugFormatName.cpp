#include "app/CodeplugFormatName.h"

#include <cstdint>

#include "codeplug/FormatVersion.h"

namespace bcu::app {

std::string CodeplugFormatName(int index) {
  const auto v = codeplug::VersionOfFormatIndex(static_cast<std::uint8_t>(index));
  if (v.major == 0) return "unknown";
  return std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace bcu::app
