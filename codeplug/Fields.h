#pragma once
// Bit fields and text fields inside the image's words.
#include <cstdint>
#include <string_view>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// (image[word] AND mask) >> shift.
std::uint16_t GetField(const CodeplugImage& image, std::uint32_t word, std::uint16_t mask,
                       unsigned shift);

// Replaces the mask bits of image[word] by value << shift; bits outside the mask
// are kept, a value wider than the field keeps its low bits. Returns the value
// as stored (read back through GetField).
std::uint16_t SetField(CodeplugImage& image, std::uint32_t word, std::uint16_t mask, unsigned shift,
                       std::uint16_t value);

// A text field: 5 words, 10 characters, character 2k in the low byte of word k
// and character 2k+1 in its high byte, padded with spaces.
inline constexpr std::uint32_t kTextFieldWords = 5;

// Fills the text field at `field` with spaces, then writes up to 10 characters of
// `text` into it.
void PutBlockText(CodeplugImage& image, std::uint32_t field, std::string_view text);

}  // namespace bcu::codeplug
