#pragma once
// Codeplug images for tests: built on the heap (an image is 64 KiB).
#include <cstdint>
#include <memory>
#include <vector>

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

// Gives table k of the block at blockPosition rows x size words (wide layout),
// moving the later words and fixing the block length and ImageLength; the
// table's words become fill, fill + 1, ...
void ResizeTable(CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k,
                 std::uint8_t rows, std::uint8_t size, Word fill = 0x1000);

// The words of table k of the block (wide layout).
std::vector<Word> TableWords(const CodeplugImage& image, std::uint16_t blockPosition,
                             std::uint32_t k);

// A copy of an image on the heap.
std::unique_ptr<CodeplugImage> Copy(const CodeplugImage& image);

}  // namespace bcu::codeplug::testing
