#pragma once
// Codeplug images for tests: built on the heap (an image is 64 KiB).
#include <cstdint>
#include <memory>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug::testing {

struct BuiltImage {
  std::unique_ptr<CodeplugImage> image;
  std::size_t byteCount = 0;
};

// Builds the shape; fails the current test when the builder refuses it.
BuiltImage Build(const CodeplugShape& shape);

// A shape with the given format and only the listed counts of systems per
// type (0, 1, 3, 4, 5).
CodeplugShape Shape(FormatVersion version, std::uint8_t t0, std::uint8_t t1, std::uint8_t t3,
                    std::uint8_t t4, std::uint8_t t5, std::uint8_t groups = 1,
                    std::uint32_t seed = 1);

// A copy of an image on the heap.
std::unique_ptr<CodeplugImage> Copy(const CodeplugImage& image);

}  // namespace bcu::codeplug::testing
