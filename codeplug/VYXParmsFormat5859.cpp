#include "codeplug/VYXParmsFormat5859.h"

#include "codeplug/Blocks.h"
#include "codeplug/Fields.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {
namespace {

constexpr std::uint32_t kFavoritesText = 39;            // radio words 39-43
constexpr std::uint32_t kAliasText = 65;                // type-0 system words 65-69
constexpr std::uint16_t kFourStepWord10Mask = 0x3E00;   // word 10 bits 13-9
constexpr std::uint16_t kFourStepWord248Mask = 0x001F;  // word 248 bits 4-0

}  // namespace

void VYXParmsFormat5859::FourStep(std::uint32_t word, std::uint16_t mask, unsigned shift) {
  const std::uint16_t v = GetField(*image, word, mask, shift);
  std::uint16_t changed;
  if (Up())
    changed = v + 4 < 16 ? v + 4 : 16;
  else
    changed = v > 4 ? v - 4 : 0;
  SetField(*image, word, mask, shift, changed);
}

void VYXParmsFormat5859::OnRadioBlock() {
  if (!Active() || !Up()) return;
  CodeplugImage& img = *image;
  // Radio table 0 holds at least 16 rows.
  const DirectoryEntry table0 = GetDirectoryEntry(img, std::uint16_t{0}, 0);
  if (table0.rows < 16) SetRadioTableRows(false, 0, table0.rows, 16, -1, -1);
  // The favorites list: 16 one-word rows, each 255 (high) and 1 (low).
  if (!failed && GetDirectoryEntry(img, std::uint16_t{0}, 3).size == 0) {
    SetDirectoryEntry(img, std::uint16_t{0}, 3, -1, 1);
    SetRadioTableRows(false, 3, 0, 16, -1, -1);
    std::uint32_t start = 0;
    std::uint8_t rows = 0, size = 0;
    if (!Table(0, 3, start, rows, size)) return;
    for (std::uint32_t i = 0; i < 16; ++i) PutWord(img, start + i, 0xFF01);
    PutBlockText(img, kFavoritesText, "FAVORITES");
  }
  if (failed) return;
  const Word w25 = img[25];
  Word changed = w25;
  if ((changed & 0xFF00) == 0) changed |= 0x0100;
  if ((changed & 0x00FF) == 0) changed |= 0x0001;
  img[25] = changed;
}

void VYXParmsFormat5859::OnSystemTypeBlock0() {
  if (!Active()) return;
  CodeplugImage& img = *image;
  const std::uint16_t s = FindSystemTypeBlock(img, 0);
  std::uint16_t y = 0;
  for (std::uint16_t n = 1; n <= SystemBlockCount(img) && y == 0; ++n)
    if (GetSystemType(img, n) == 0) y = FindSystemBlock(img, n);
  if (s == 0 || y == 0) return;
  // (type block word, system block word)
  static constexpr std::uint32_t kPairs[][2] = {{10, 18}, {11, 19}, {12, 21}, {13, 22},
                                                {27, 23}, {28, 24}, {30, 25}};
  for (const auto& pair : kPairs) {
    if (Up())
      PutWord(img, y + pair[1], WordAt(img, s + pair[0]));
    else
      PutWord(img, s + pair[0], WordAt(img, y + pair[1]));
  }
}

void VYXParmsFormat5859::OnSystemBlock0(std::uint16_t n) {
  if (!Active() || !Up()) return;
  CodeplugImage& img = *image;
  const std::uint16_t block = SystemBlockOf(n);
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, 2, start, rows, size)) return;
  // Table 2: 2-word rows become 4-word rows with words 2 and 3 defaulted.
  if (size < 4) {
    SetSystemRowSize(1, n, 2, -1, -1, 2, 4);
    if (!Table(block, 2, start, rows, size)) return;
    for (std::uint32_t i = 0; i < rows; ++i) {
      PutWord(img, start + 4 * i + 2, 549);
      PutWord(img, start + 4 * i + 3, 659);
    }
  }
  bool aliasEmpty = true;
  for (std::uint32_t k = 0; k < kTextFieldWords; ++k)
    aliasEmpty = aliasEmpty && WordAt(img, block + kAliasText + k) == 0;
  if (aliasEmpty) PutBlockText(img, block + kAliasText, "SYS ALIAS");
  DeclareSystemRowSize(n, 6, 9);
  DeclareSystemRowSize(n, 7, 9);
  DeclareSystemRowSize(n, 8, 2);
  // Radio word 70, only where the radio block reaches that far.
  if (LengthOfBlock(img, 0) > 70 && (img[70] & 0x00FF) == 0)
    img[70] = static_cast<Word>(img[70] | 60);
}

void VYXParmsFormat5859::SystemBlock13(std::uint16_t n, std::uint32_t emptyFirst,
                                       std::uint32_t declare9) {
  if (!Active()) return;
  if (convertLayout) {
    EmptySystemTable(n, emptyFirst);
    EmptySystemTable(n, emptyFirst + 1);
    const std::uint16_t block = FindSystemBlock(*image, n);
    if (block != 0) FourStep(block + 10u, kFourStepWord10Mask, 9);
  }
  if (Up() && !failed) {
    Word107Step(n);
    DeclareSystemRowSize(n, declare9, 9);
    DeclareSystemRowSize(n, declare9 + 1, 2);
  }
}

void VYXParmsFormat5859::OnSystemBlock1(std::uint16_t n) {
  SystemBlock13(n, 9, 8);
}
void VYXParmsFormat5859::OnSystemBlock3(std::uint16_t n) {
  SystemBlock13(n, 13, 12);
}

void VYXParmsFormat5859::OnSystemBlock4(std::uint16_t n) {
  if (!Active()) return;
  if (convertLayout) {
    EmptySystemTable(n, 13);
    EmptySystemTable(n, 14);
    const std::uint16_t block = FindSystemBlock(*image, n);
    if (block != 0) FourStep(block + 248u, kFourStepWord248Mask, 0);
  }
  if (Up() && !failed) {
    Table0CleanUp(n);
    DeclareSystemRowSize(n, 12, 9);
    DeclareSystemRowSize(n, 13, 2);
  }
}

void VYXParmsFormat5859::OnSystemBlock5(std::uint16_t n) {
  if (!Active() || !Up()) return;
  CodeplugImage& img = *image;
  const std::uint16_t block = SystemBlockOf(n);
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, 0, start, rows, size)) return;
  if (size < 11) SetSystemRowSize(1, n, 0, -1, -1, 10, 11);
  if (!Table(block, 1, start, rows, size) || rows == 0) return;
  // Table 2 becomes one row: the text "1", then a 32-word bit map with a bit
  // for every row of table 1 (word 1: map word in the high byte, bit in the
  // low byte, bit 0 the most significant). Rows naming a bit outside the map
  // are skipped.
  Word row[37] = {};
  row[0] = '1' | ' ' << 8;
  for (int k = 1; k < 5; ++k) row[k] = 0x2020;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const Word entry = WordAt(img, start + 2 * i + 1);
    const unsigned w = entry >> 8, b = entry & 0xFF;
    if (w < 32 && b <= 15) row[5 + w] = static_cast<Word>(row[5 + w] | (1u << (15 - b)));
  }
  if (!ReplaceSystemTable(n, 2, row, 1, 37)) return;
  ReplaceSystemTable(n, 1, nullptr, 0, 2);
}

void VYXParmsFormat5859::OnSystemRelaid1(std::uint16_t n) {
  DeclareEmptyTable(n, 9, 2);
}
void VYXParmsFormat5859::OnSystemRelaid3(std::uint16_t n) {
  DeclareEmptyTable(n, 13, 2);
}
void VYXParmsFormat5859::OnSystemRelaid4(std::uint16_t n) {
  DeclareEmptyTable(n, 13, 2);
}

void VYXParmsFormat5859::Word107Step(std::uint16_t n) {
  CodeplugImage& img = *image;
  const std::uint16_t block = FindSystemBlock(img, n);
  if (block == 0) return;
  if (GetField(img, 6, 0x1C00, 10) == 5 && WordAt(img, block + 107u) == 0xFD8F)
    PutWord(img, block + 107u, static_cast<Word>(51100 + 25 * -625));
}

void VYXParmsFormat5859::Table0CleanUp(std::uint16_t n) {
  CodeplugImage& img = *image;
  if (VariantCode(img) != 8) return;
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0 || !Table(block, 0, start, rows, size)) return;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const std::uint32_t row = start + 6 * i;
    if (WordAt(img, row) == 0xFFFF) continue;
    bool zero = false;
    for (std::uint32_t k = 1; k < 6; ++k) zero = zero || WordAt(img, row + k) == 0;
    if (!zero) continue;
    for (std::uint32_t k = 0; k < 6; ++k) PutWord(img, row + k, 0xFFFF);
  }
}

}  // namespace bcu::codeplug
