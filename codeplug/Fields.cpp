#include "codeplug/Fields.h"

namespace bcu::codeplug {

std::uint16_t GetField(const CodeplugImage& image, std::uint32_t word, std::uint16_t mask,
                       unsigned shift) {
  return static_cast<std::uint16_t>((WordAt(image, word) & mask) >> shift);
}

std::uint16_t SetField(CodeplugImage& image, std::uint32_t word, std::uint16_t mask, unsigned shift,
                       std::uint16_t value) {
  const Word kept = WordAt(image, word) & static_cast<Word>(~mask);
  const Word placed = static_cast<Word>((static_cast<std::uint32_t>(value) << shift) & mask);
  PutWord(image, word, static_cast<Word>(kept | placed));
  return GetField(image, word, mask, shift);
}

void PutBlockText(CodeplugImage& image, std::uint32_t field, std::string_view text) {
  for (std::uint32_t k = 0; k < kTextFieldWords; ++k) PutWord(image, field + k, 0x2020);
  const std::size_t n = text.size() < 2 * kTextFieldWords ? text.size() : 2 * kTextFieldWords;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t word = field + static_cast<std::uint32_t>(i / 2);
    const auto c = static_cast<std::uint8_t>(text[i]);
    const Word w = WordAt(image, word);
    PutWord(image, word,
            i % 2 == 0 ? static_cast<Word>((w & 0xFF00) | c)
                       : static_cast<Word>((w & 0x00FF) | (c << 8)));
  }
}

}  // namespace bcu::codeplug
