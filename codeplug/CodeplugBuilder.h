#pragma once
// Builds valid codeplug images of formats 5.8, 5.9 and 5.10 for the virtual
// radio, the tests and the sample command: a radio block, the system-type
// blocks the systems need, the system blocks (types 0, 1, 3, 4, 5, numbered
// from 1) and the group blocks, each with its format's fixed part, directory
// and row sizes, filled with seeded random contents.
#include <cstddef>
#include <cstdint>

#include "codeplug/CodeplugImage.h"
#include "codeplug/FormatVersion.h"

namespace bcu::codeplug {

struct CodeplugShape {
  FormatVersion version{5, 9};  // 5.8, 5.9 or 5.10
  // Systems of each type; their sum is 1 to 16.
  std::uint8_t systemsType0 = 1;
  std::uint8_t systemsType1 = 1;
  std::uint8_t systemsType3 = 1;
  std::uint8_t systemsType4 = 1;
  std::uint8_t systemsType5 = 1;
  std::uint8_t groups = 2;  // 1 to 54
  std::uint32_t seed = 1;
  std::uint8_t variantCode = 0;  // radio word 5 bits 3-0
  std::uint8_t maxRows = 3;      // rows of each filled table: 0 to maxRows
  bool shuffleSystems = true;    // mix the system types in block order
};

// Builds the image into `image` (every word of the buffer is written) and its
// byte count (2 x ImageLength). False when the shape is out of range or would
// not fit in the buffer.
bool BuildCodeplug(const CodeplugShape& shape, CodeplugImage& image, std::size_t& byteCount);

}  // namespace bcu::codeplug
