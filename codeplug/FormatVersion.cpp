#include "codeplug/FormatVersion.h"

namespace bcu::codeplug {

std::uint8_t ParmsFormatIndexOf(std::uint8_t major, std::uint8_t minor) {
  if (major == 5 && minor >= 5 && minor <= 10) return static_cast<std::uint8_t>(minor - 5);
  return kUnknownFormatIndex;
}

FormatVersion ImageFormatVersion(const CodeplugImage& image) {
  const Word v = image[kWordFormatVersion];
  return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v & 0xFF)};
}

std::uint8_t ParmsFormatIndex(const CodeplugImage& image) {
  const FormatVersion v = ImageFormatVersion(image);
  return ParmsFormatIndexOf(v.major, v.minor);
}

FormatVersion VersionOfFormatIndex(std::uint8_t index) {
  if (index < 6) return {5, static_cast<std::uint8_t>(index + 5)};
  return {0, 0};
}

}  // namespace bcu::codeplug
