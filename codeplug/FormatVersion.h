#pragma once
// The codeplug's file format version (radio block word 3) and its index:
// minor - 5 for versions 5.5 to 5.10, 255 for anything else.
#include <cstdint>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

inline constexpr std::uint8_t kUnknownFormatIndex = 255;
inline constexpr std::uint8_t kFormatIndex58 = 3;
inline constexpr std::uint8_t kFormatIndex59 = 4;
inline constexpr std::uint8_t kFormatIndex510 = 5;

struct FormatVersion {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;
  friend bool operator==(const FormatVersion&, const FormatVersion&) = default;
};

std::uint8_t ParmsFormatIndexOf(std::uint8_t major, std::uint8_t minor);
// The index of the image's FormatVersion.
std::uint8_t ParmsFormatIndex(const CodeplugImage& image);
// (5, index + 5) for an index below 6, else (0, 0).
FormatVersion VersionOfFormatIndex(std::uint8_t index);

// The image's FormatVersion word split into major and minor.
FormatVersion ImageFormatVersion(const CodeplugImage& image);

}  // namespace bcu::codeplug
