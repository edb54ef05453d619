#pragma once
// Moving words inside the image: the inserts and removals that grow and
// shrink tables. Everything stays inside the 32,768-word buffer.
#include <cstdint>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// Moves everything from word src to the end of the buffer so that it starts at
// dst. Moving up (an insertion) loses the words pushed past the end of the
// buffer; moving down (a removal) leaves the last src - dst words as they were.
// Nothing happens when dst equals src or either lies past the buffer.
void MoveTail(CodeplugImage& image, std::uint32_t dst, std::uint32_t src);

// Sets n words from pos to 0 (cut at the end of the buffer).
void ZeroWords(CodeplugImage& image, std::uint32_t pos, std::uint32_t n);

// Gives table k of system block `systemNumber` rows x rowSize words. With a
// source the later words move so that the table ends at start + rows x rowSize
// and the new contents are copied from the source; without one (rows 0) the old
// words are removed. Directory entry k, the block length and ImageLength follow.
// Nothing happens when the system block does not exist.
void ReplaceTable(CodeplugImage& image, std::uint16_t systemNumber, std::uint32_t k,
                  const Word* source, std::uint8_t rows, std::uint8_t rowSize);

}  // namespace bcu::codeplug
