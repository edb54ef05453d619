#include "codeplug/TableWordLayout.h"

#include "codeplug/Blocks.h"

namespace bcu::codeplug {

void SetTableWordLayout(CodeplugImage& image, bool wide) {
  const std::uint32_t end = BlocksEnd(image);
  std::uint32_t pos = 0;
  while (pos < end && IsBlockMark(image, pos)) {
    const Word word = WordAt(image, pos + 2);
    Word changed;
    if (wide) {
      const Word count = word >> 12;
      changed = static_cast<Word>((word & 0x07FF) | (count << 11));
    } else {
      const Word count = word >> 11;
      changed = static_cast<Word>((word & 0x07FF) | ((count & 0x0F) << 12));
    }
    PutWord(image, pos + 2, changed);
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length == 0) break;
    pos += length;
  }
}

}  // namespace bcu::codeplug
