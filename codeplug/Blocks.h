#pragma once
// The chain of blocks: block headers and the finders.
//
// A block starts with the block mark; word 1 holds its kind (bits 15-14) and its
// length in words (bits 13-0); the next block starts right after it. The radio
// block is at position 0. The finders walk the chain from there and answer with
// a block position, 0 when there is no such block (0 is the radio block and
// never a valid answer). A walk also ends at a block of length 0, which would
// never advance, and where the blocks end: the 128 words that follow the last
// block are data of the image, never a block, whatever they hold.
#include <cstdint>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// The value GetSystemType gives for a system number without a block.
inline constexpr std::uint16_t kNoSystemType = 0xFFFF;

// Where the chain of blocks ends: ImageLength - 128 (0 for an ImageLength of
// 128 or less).
inline std::uint32_t BlocksEnd(const CodeplugImage& image) {
  const std::uint32_t length = ImageLength(image);
  return length > kTrailerWords ? length - kTrailerWords : 0;
}

inline bool IsBlockMark(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos) == kBlockMark;
}
inline std::uint16_t KindOfBlock(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos + 1) >> 14;
}
inline std::uint16_t LengthOfBlock(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos + 1) & kMaxBlockLength;
}
// Word 3 of a system-type block: bits 15-12 system-type code.
inline std::uint16_t SystemTypeCodeOfBlock(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos + 3) >> 12;
}
// Word 3 of a system block: bits 15-12 system type, bits 7-0 system number.
inline std::uint16_t SystemTypeOfBlock(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos + 3) >> 12;
}
inline std::uint16_t SystemNumberOfBlock(const CodeplugImage& image, std::uint32_t pos) {
  return WordAt(image, pos + 3) & 0xFF;
}

std::uint16_t FindSystemTypeBlock(const CodeplugImage& image, std::uint16_t code);
std::uint16_t FindSystemBlock(const CodeplugImage& image, std::uint16_t number);
// The n-th group block in image order, n from 1.
std::uint16_t FindGroupBlock(const CodeplugImage& image, std::uint16_t ordinal);

// System type of system block `number`; kNoSystemType when there is no such
// block (rather than reading the radio block's word 3).
std::uint16_t GetSystemType(const CodeplugImage& image, std::uint16_t number);

}  // namespace bcu::codeplug
