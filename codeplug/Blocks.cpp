#include "codeplug/Blocks.h"

namespace bcu::codeplug {
namespace {

// Walks the chain from position 0 and returns the first block that `match`
// accepts, 0 when the walk ends first.
template <typename Match>
std::uint16_t FindBlock(const CodeplugImage& image, Match match) {
  const std::uint32_t end = BlocksEnd(image);
  std::uint32_t pos = 0;
  while (IsBlockMark(image, pos)) {
    if (match(pos)) return static_cast<std::uint16_t>(pos);
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length == 0) return 0;
    pos += length;
    if (pos >= end) return 0;
  }
  return 0;
}

}  // namespace

std::uint16_t FindSystemTypeBlock(const CodeplugImage& image, std::uint16_t code) {
  return FindBlock(image, [&](std::uint32_t pos) {
    return KindOfBlock(image, pos) == kSystemTypeBlock && SystemTypeCodeOfBlock(image, pos) == code;
  });
}

std::uint16_t FindSystemBlock(const CodeplugImage& image, std::uint16_t number) {
  return FindBlock(image, [&](std::uint32_t pos) {
    return KindOfBlock(image, pos) == kSystemBlock && SystemNumberOfBlock(image, pos) == number;
  });
}

std::uint16_t FindGroupBlock(const CodeplugImage& image, std::uint16_t ordinal) {
  if (ordinal == 0) return 0;
  const std::uint32_t end = BlocksEnd(image);
  std::uint32_t pos = 0;
  std::uint16_t seen = 0;
  while (pos < end && IsBlockMark(image, pos)) {
    const bool group = KindOfBlock(image, pos) == kGroupBlock;
    if (group && ++seen == ordinal) return static_cast<std::uint16_t>(pos);
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length == 0) return 0;
    pos += length;
  }
  return 0;
}

std::uint16_t GetSystemType(const CodeplugImage& image, std::uint16_t number) {
  const std::uint16_t pos = FindSystemBlock(image, number);
  return pos == 0 ? kNoSystemType : SystemTypeOfBlock(image, pos);
}

}  // namespace bcu::codeplug
