#include "support/CodeplugImages.h"

#include <gtest/gtest.h>

#include "codeplug/Moves.h"
#include "codeplug/TableAccess.h"

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

void ResizeTable(CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k,
                 std::uint8_t rows, std::uint8_t size, Word fill) {
  std::uint8_t oldRows = 0, oldSize = 0;
  const std::uint32_t start = TableStart(image, blockPosition, k, &oldRows, &oldSize);
  const std::int32_t oldWords = oldRows * oldSize, newWords = rows * size;
  MoveTail(image, start + newWords, start + oldWords);
  for (std::int32_t i = 0; i < newWords; ++i) image[start + i] = static_cast<Word>(fill + i);
  SetDirectoryEntry(image, blockPosition, k, rows, size);
  SetBlockLength(
      image, blockPosition,
      static_cast<std::uint16_t>(GetBlockLength(image, blockPosition) + newWords - oldWords));
  image[kWordImageLength] = static_cast<Word>(image[kWordImageLength] + newWords - oldWords);
}

std::vector<Word> TableWords(const CodeplugImage& image, std::uint16_t blockPosition,
                             std::uint32_t k) {
  std::uint8_t rows = 0, size = 0;
  const std::uint32_t start = TableStart(image, blockPosition, k, &rows, &size);
  return std::vector<Word>(image.begin() + start, image.begin() + start + rows * size);
}

std::unique_ptr<CodeplugImage> Copy(const CodeplugImage& image) {
  return std::make_unique<CodeplugImage>(image);
}

}  // namespace bcu::codeplug::testing
