#include "codeplug/Moves.h"

#include <algorithm>
#include <cstring>

#include "codeplug/Blocks.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {

void MoveTail(CodeplugImage& image, std::uint32_t dst, std::uint32_t src) {
  if (dst == src || dst >= kImageWords || src >= kImageWords) return;
  const std::uint32_t count = kImageWords - std::max(dst, src);
  std::memmove(image.data() + dst, image.data() + src, count * sizeof(Word));
}

void ZeroWords(CodeplugImage& image, std::uint32_t pos, std::uint32_t n) {
  if (pos >= kImageWords) return;
  n = std::min(n, kImageWords - pos);
  std::fill_n(image.data() + pos, n, Word{0});
}

void ReplaceTable(CodeplugImage& image, std::uint16_t systemNumber, std::uint32_t k,
                  const Word* source, std::uint8_t rows, std::uint8_t rowSize) {
  const std::uint16_t block = FindSystemBlock(image, systemNumber);
  if (block == 0) return;
  std::uint8_t oldRows = 0, oldSize = 0;
  const std::uint32_t start = TableStart(image, block, k, &oldRows, &oldSize);
  const std::uint32_t oldWords = static_cast<std::uint32_t>(oldRows) * oldSize;
  const std::uint32_t newWords = source ? static_cast<std::uint32_t>(rows) * rowSize : 0;
  MoveTail(image, start + newWords, start + oldWords);
  if (source) {
    for (std::uint32_t i = 0; i < newWords; ++i) PutWord(image, start + i, source[i]);
  }
  SetDirectoryEntry(image, block, k, rows, rowSize);
  const std::int32_t diff =
      static_cast<std::int32_t>(newWords) - static_cast<std::int32_t>(oldWords);
  SetBlockLength(image, block, static_cast<std::uint16_t>(GetBlockLength(image, block) + diff));
  image[kWordImageLength] = static_cast<Word>(image[kWordImageLength] + diff);
}

}  // namespace bcu::codeplug
