#include "codeplug/ParmsFormat510Fixup.h"

#include "codeplug/Blocks.h"
#include "codeplug/Fields.h"
#include "codeplug/Moves.h"
#include "codeplug/TableAccess.h"
#include "codeplug/Validity.h"

namespace bcu::codeplug {
namespace {

struct FieldDefault {
  std::uint32_t word;
  std::uint16_t mask;
  unsigned shift;
  std::uint16_t value;
};

// Sets all the fields to their defaults when every one of them reads 0.
void DefaultWhenAllZero(CodeplugImage& image, std::uint32_t block,
                        const FieldDefault (&fields)[6]) {
  for (const FieldDefault& f : fields)
    if (GetField(image, block + f.word, f.mask, f.shift) != 0) return;
  for (const FieldDefault& f : fields) SetField(image, block + f.word, f.mask, f.shift, f.value);
}

void FixSystemType0(CodeplugImage& image, std::uint32_t block) {
  std::uint16_t v = WordAt(image, block + 8) & 0xFF;
  const std::uint16_t c = WordAt(image, block + 84) >> 8;  // rows of table 3
  if (v > c) {
    v &= 0x0F;
    if (v > c) v = 0;
    PutWord(image, block + 8, static_cast<Word>((WordAt(image, block + 8) & 0xFF00) | v));
  }
  static constexpr FieldDefault kDefaults[6] = {
      {27, 0x007F, 0, 14}, {15, 0x03E0, 5, 15}, {15, 0xFC00, 10, 1},
      {26, 0x7F00, 8, 40}, {27, 0x0780, 7, 20}, {26, 0x00FF, 0, 255},
  };
  DefaultWhenAllZero(image, block, kDefaults);
}

// Sets the low byte of block word `word` to `value` when it reads 0, but only
// inside the block: in a short block that word belongs to the next one.
void DefaultLowByte(CodeplugImage& image, std::uint32_t block, std::uint32_t word,
                    std::uint16_t value) {
  if (word >= LengthOfBlock(image, block)) return;
  if ((WordAt(image, block + word) & 0xFF) == 0) SetField(image, block + word, 0x00FF, 0, value);
}

void FixSystemType4(CodeplugImage& image, std::uint32_t block) {
  static constexpr FieldDefault kDefaults[6] = {
      {262, 0xFE00, 9, 14}, {261, 0x03E0, 5, 15}, {261, 0xFC00, 10, 1},
      {263, 0x007F, 0, 40}, {261, 0x001E, 1, 20}, {262, 0x01FE, 1, 255},
  };
  DefaultWhenAllZero(image, block, kDefaults);
  DefaultLowByte(image, block, 313, 2);
  DefaultLowByte(image, block, 320, 4);
}

// Type-3 table 11 holds at most 16 rows; the rows past them are removed.
// Returns the words removed.
std::uint32_t CapSystemType3(CodeplugImage& image, std::uint16_t block) {
  const std::uint8_t c = WordAt(image, block + 344u) >> 8;
  if (c <= 16) return 0;
  // Only a directory at its 5.10 place (entry 11 at word 344) whose tables fit.
  const TableWord t = GetTableWord(image, block);
  if (t.offset != 333 || !TableFits(image, block, 12)) return 0;
  std::uint8_t rows = 0, size = 0;
  const std::uint32_t table12 = TableStart(image, block, 12);
  TableStart(image, block, 11, &rows, &size);
  const std::uint32_t removed = static_cast<std::uint32_t>(c - 16) * size;
  MoveTail(image, table12 - removed, table12);
  SetField(image, block + 344u, 0xFF00, 8, 16);
  SetBlockLength(image, block, static_cast<std::uint16_t>(GetBlockLength(image, block) - removed));
  image[kWordImageLength] = static_cast<Word>(ImageLength(image) - removed);
  return removed;
}

void FixGroup(CodeplugImage& image, std::uint16_t block) {
  for (std::uint32_t k : {0u, 1u}) {
    if (!TableFits(image, block, k)) continue;
    std::uint8_t rows = 0, size = 0;
    const std::uint32_t start = TableStart(image, block, k, &rows, &size);
    for (std::uint32_t i = 0; i < rows; ++i) {
      const std::uint32_t word = start + size * i + 6;
      if (GetField(image, word, 0x0060, 5) == 1) SetField(image, word, 0x0060, 5, 2);
    }
  }
}

}  // namespace

std::int32_t ParmsFormat510Fixup(CodeplugImage& image) {
  if (image[0] != kBlockMark) return 0;
  if (GetField(image, 52, 0xE000, 13) == 0)
    for (unsigned shift : {13u, 10u, 7u, 4u, 1u})
      SetField(image, 52, static_cast<std::uint16_t>(0x7 << shift), shift, 4);
  if (!ParmsImageHeaderIsValid(image)) return 0;

  const std::uint16_t variant = VariantCode(image);
  std::uint32_t end = ImageLength(image) - kTrailerWords;
  std::uint32_t removedTotal = 0;
  std::uint32_t pos = 0;
  while (pos < end && IsBlockMark(image, pos)) {
    const auto block = static_cast<std::uint16_t>(pos);
    const std::uint16_t kind = KindOfBlock(image, pos);
    if (kind == kSystemTypeBlock && SystemTypeCodeOfBlock(image, pos) == 4) {
      for (unsigned shift : {6u, 4u, 2u, 0u})
        if (GetField(image, pos + 30, static_cast<std::uint16_t>(0x3 << shift), shift) == 0)
          SetField(image, pos + 30, static_cast<std::uint16_t>(0x3 << shift), shift, 1);
    } else if (kind == kSystemBlock) {
      switch (SystemTypeOfBlock(image, pos)) {
        case 0:
          FixSystemType0(image, pos);
          break;
        case 3: {
          // The blocks after it move down: the end of the blocks with them.
          const std::uint32_t removed = CapSystemType3(image, block);
          removedTotal += removed;
          end -= removed;
          break;
        }
        case 4:
          FixSystemType4(image, pos);
          break;
        default:
          break;
      }
    } else if (kind == kGroupBlock && (variant == 1 || variant == 5 || variant == 6)) {
      FixGroup(image, block);
    }
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length == 0) break;
    pos += length;
  }
  return -static_cast<std::int32_t>(removedTotal);
}

}  // namespace bcu::codeplug
