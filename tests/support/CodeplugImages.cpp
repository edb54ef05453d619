#include "support/CodeplugImages.h"

#include <gtest/gtest.h>

namespace bcu::codeplug::testing {

BuiltImage Build(const CodeplugShape& shape) {
  BuiltImage built;
  built.image = std::make_unique<CodeplugImage>();
  EXPECT_TRUE(BuildCodeplug(shape, *built.image, built.byteCount))
      << "shape refused, seed " << shape.seed;
  return built;
}

CodeplugShape Shape(FormatVersion version, std::uint8_t t0, std::uint8_t t1, std::uint8_t t3,
                    std::uint8_t t4, std::uint8_t t5, std::uint8_t groups, std::uint32_t seed) {
  CodeplugShape s;
  s.version = version;
  s.systemsType0 = t0;
  s.systemsType1 = t1;
  s.systemsType3 = t3;
  s.systemsType4 = t4;
  s.systemsType5 = t5;
  s.groups = groups;
  s.seed = seed;
  return s;
}

std::unique_ptr<CodeplugImage> Copy(const CodeplugImage& image) {
  return std::make_unique<CodeplugImage>(image);
}

}  // namespace bcu::codeplug::testing
