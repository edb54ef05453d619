#pragma once
// The codeplug image: the radio's parameter store as 32,768 16-bit words.
//
// On the serial line and in codeplug files every word is big-endian. The image
// is turned into host order (ParmsImageSwapBytes) before any operation here
// reads it, and back before it is sent or saved.
//
// A codeplug comes from a radio and is untrusted: every word access in this
// folder goes through WordAt/PutWord, which never leave the buffer whatever the
// words of the image say.
#include <array>
#include <cstddef>
#include <cstdint>

namespace bcu::codeplug {

using Word = std::uint16_t;

inline constexpr std::uint32_t kImageWords = 32768;
inline constexpr std::uint32_t kImageBytes = 2 * kImageWords;

using CodeplugImage = std::array<Word, kImageWords>;

// Every block starts with this word.
inline constexpr Word kBlockMark = 0x5F5F;
// Words after the last block that belong to the image.
inline constexpr std::uint32_t kTrailerWords = 128;
// Largest value of a block's 14-bit length field.
inline constexpr std::uint32_t kMaxBlockLength = 0x3FFF;

// Block kinds (word 1 bits 15-14).
enum BlockKind : std::uint16_t {
  kRadioBlock = 0,
  kSystemTypeBlock = 1,
  kSystemBlock = 2,
  kGroupBlock = 3,
};

// Radio block words (the radio block is always at position 0).
inline constexpr std::uint32_t kWordFormatVersion = 3;
inline constexpr std::uint32_t kWordImageLength = 4;
inline constexpr std::uint32_t kWordVariantCode = 5;   // bits 3-0
inline constexpr std::uint32_t kWordBlockCounts = 14;  // high byte groups, low byte systems

// Reads word `pos`; 0 for a position outside the buffer.
inline Word WordAt(const CodeplugImage& image, std::uint32_t pos) {
  return pos < kImageWords ? image[pos] : Word{0};
}

// Writes word `pos`; a position outside the buffer is ignored.
inline void PutWord(CodeplugImage& image, std::uint32_t pos, Word value) {
  if (pos < kImageWords) image[pos] = value;
}

inline std::uint16_t ImageLength(const CodeplugImage& image) {
  return image[kWordImageLength];
}
inline std::uint16_t VariantCode(const CodeplugImage& image) {
  return image[kWordVariantCode] & 0x000F;
}
inline std::uint8_t SystemBlockCount(const CodeplugImage& image) {
  return image[kWordBlockCounts] & 0xFF;
}
inline std::uint8_t GroupBlockCount(const CodeplugImage& image) {
  return image[kWordBlockCounts] >> 8;
}

// Exchanges bytes 2i and 2i+1 for every i with 2i < byteCount. `buffer` is a
// codeplug buffer of kImageBytes bytes; a larger count is cut to that size.
void ParmsImageSwapBytes(std::uint8_t* buffer, std::size_t byteCount);
void ParmsImageSwapBytes(CodeplugImage& image, std::size_t byteCount);

}  // namespace bcu::codeplug
