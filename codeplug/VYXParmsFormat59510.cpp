#include "codeplug/VYXParmsFormat59510.h"

#include "codeplug/Blocks.h"
#include "codeplug/Fields.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {
namespace {

constexpr std::uint16_t kFourStepWord10Mask = 0x3E00;   // bits 13-9
constexpr std::uint16_t kFourStepWord248Mask = 0x001F;  // bits 4-0

}  // namespace

void VYXParmsFormat59510::FourStepUp(std::uint32_t word, std::uint16_t mask, unsigned shift) {
  const std::uint16_t v = GetField(*image, word, mask, shift);
  SetField(*image, word, mask, shift, v + 4 < 16 ? v + 4 : 16);
}

void VYXParmsFormat59510::OnRadioBlock() {
  if (!Active()) return;
  CodeplugImage& img = *image;
  // Radio table 1: 16 rows in 5.9, 64 in 5.10. The move starts from the rows
  // the table holds, so that a table of another count is not cut apart.
  const std::uint8_t rows = GetDirectoryEntry(img, std::uint16_t{0}, 1).rows;
  if (backward) {
    if (rows >= 16) SetRadioTableRows(false, 1, 16, rows, -1, -1);
  } else {
    const bool keep = img[kWordFormatVersion] == 0x050A && rows != 16;
    if (!keep && rows <= 64) SetRadioTableRows(false, 1, rows, 64, -1, -1);
  }
  if (failed || backward) return;
  if (GetField(img, 29, 0x1C00, 10) == 0) SetField(img, 28, 0x1C00, 10, 1);
  if (GetField(img, 6, 0x00F0, 4) < 4) SetField(img, 6, 0x00F0, 4, 4);
  if ((img[24] & 0x00FF) == 1) img[24] = static_cast<Word>((img[24] & 0xFF00) | 2);
  for (std::uint32_t k = 46; k <= 50; ++k) {
    Word w = img[k];
    if ((w & 0x00FF) == 0) w |= 0x0020;
    if ((w & 0xFF00) == 0) w |= 0x2000;
    img[k] = w;
  }
  SetField(img, 23, 0x0F00, 8, 0);
}

void VYXParmsFormat59510::OnSystemTypeBlock0() {
  if (!Active() || backward) return;
  const std::uint16_t s = FindSystemTypeBlock(*image, 0);
  if (s == 0) return;
  for (std::uint32_t k = 30; k <= 39; ++k) PutWord(*image, s + k, 0);
}

void VYXParmsFormat59510::OnSystemBlock0(std::uint16_t n) {
  if (!Active()) return;
  if (convertLayout) SetSystemRowSize(1, n, 3, -1, -1, 36, 58);
  if (backward || failed) return;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0) return;
  const std::uint16_t v = GetField(*image, block + 4u, 0x00F0, 4);
  SetField(*image, block + 28u, 0x0FC0, 6, v);
  SetField(*image, block + 4u, 0x00F0, 4, 0);
}

void VYXParmsFormat59510::MoveBits12To9(std::uint16_t block, std::uint32_t k, std::uint32_t stride,
                                        std::uint32_t from, std::uint32_t to) {
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (!Table(block, k, start, rows, size)) return;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const std::uint32_t row = start + stride * i;
    SetField(*image, row + to, 0x003F, 0, GetField(*image, row + from, 0x1E00, 9));
    SetField(*image, row + from, 0x1E00, 9, 0);
  }
}

void VYXParmsFormat59510::SystemBlock13(std::uint16_t n, int size5Low, int size6Low,
                                        std::uint32_t declare, std::uint32_t indexTable) {
  if (!Active()) return;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0) return;
  if (convertLayout) {
    SetSystemRowSize(1, n, 7, -1, -1, 36, 58);
    SetSystemRowSize(1, n, 5, -1, -1, size5Low, size5Low + 1);
    if (!backward && !failed) MoveBits12To9(block, 5, size5Low + 1, 3, 4);
    SetSystemRowSize(1, n, 6, -1, -1, size6Low, size6Low + 1);
    if (!backward && !failed) MoveBits12To9(block, 6, size6Low + 1, 1, 18);
  }
  if (backward || failed) return;
  DeclareSystemRowSize(n, declare, 2);
  BuildIndexTable(n, indexTable, 5, 0x0FFF);
  if (!failed) FourStepUp(block + 10u, kFourStepWord10Mask, 9);
}

void VYXParmsFormat59510::OnSystemBlock1(std::uint16_t n) {
  SystemBlock13(n, 4, 18, 9, 10);
}
void VYXParmsFormat59510::OnSystemBlock3(std::uint16_t n) {
  SystemBlock13(n, 6, 20, 13, 14);
}

void VYXParmsFormat59510::OnSystemBlock4(std::uint16_t n) {
  if (!Active()) return;
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0) return;
  if (convertLayout) {
    SetSystemRowSize(1, n, 9, -1, -1, 36, 58);
    SetSystemRowSize(1, n, 6, -1, -1, 8, 13);
    if (!backward && !failed) MoveBits12To9(block, 6, 13, 3, 12);
    SetSystemRowSize(1, n, 7, -1, -1, 22, 26);
    SetSystemRowSize(1, n, 11, -1, -1, 32, 64);
    EmptySystemTable(n, 15);
    EmptySystemTable(n, 16);
  }
  if (backward || failed) return;
  DeclareSystemRowSize(n, 13, 2);
  BuildIndexTable(n, 14, 6, 0xFFFF);
  if (failed) return;
  if (VariantCode(*image) == 4) FfffCleanUp(n);
  CodeplugImage& img = *image;
  const std::uint16_t v = GetField(img, block + 250u, 0xF000, 12);
  SetField(img, block + 263u, 0x1F80, 7, v);
  SetField(img, block + 250u, 0xF000, 12, 0);
  FourStepUp(block + 248u, kFourStepWord248Mask, 0);
}

void VYXParmsFormat59510::OnSystemBlock5(std::uint16_t n) {
  if (!convertLayout) return;
  SetSystemRowSize(1, n, 2, -1, -1, 37, 59);
  EmptySystemTable(n, 3);
}

void VYXParmsFormat59510::OnSystemRelaid4(std::uint16_t n) {
  DeclareEmptyTable(n, 15, 2);
}
void VYXParmsFormat59510::OnSystemRelaid5(std::uint16_t n) {
  DeclareEmptyTable(n, 3, 37);
}

void VYXParmsFormat59510::BuildIndexTable(std::uint16_t n, std::uint32_t x, std::uint32_t y,
                                          Word mask) {
  const std::uint16_t block = SystemBlockOf(n);
  std::uint32_t xStart = 0, yStart = 0;
  std::uint8_t xRows = 0, xSize = 0, yRows = 0, ySize = 0;
  if (block == 0 || !Table(block, x, xStart, xRows, xSize)) return;
  if (xSize != 0) return;
  if (!Table(block, y, yStart, yRows, ySize)) return;
  SetDirectoryEntry(*image, block, x, yRows, 3);
  if (!InsertWords(block, xStart, 3u * yRows)) return;
  yStart = TableStart(*image, block, y);
  for (std::uint32_t i = 0; i < yRows; ++i) {
    const std::uint32_t from = yStart + ySize * i, to = xStart + 3 * i;
    PutWord(*image, to, WordAt(*image, from) & mask);
    PutWord(*image, to + 1, WordAt(*image, from + 1));
    PutWord(*image, to + 2, WordAt(*image, from + 2));
  }
}

void VYXParmsFormat59510::FfffCleanUp(std::uint16_t n) {
  const std::uint16_t block = SystemBlockOf(n);
  if (block == 0) return;
  for (std::uint32_t k : {6u, 14u}) {
    std::uint32_t start = 0;
    std::uint8_t rows = 0, size = 0;
    if (!Table(block, k, start, rows, size)) return;
    for (std::uint32_t word : {1u, 2u})
      for (std::uint32_t i = 0; i < rows; ++i) {
        const std::uint32_t pos = start + size * i + word;
        if (WordAt(*image, pos) == 0xFFFF) PutWord(*image, pos, 0x0FFF);
      }
  }
}

void VYXParmsFormat59510::OnGroupBlock0(std::uint16_t n) {
  if (!Active()) return;
  if (convertLayout) SetGroupRowSize(1, n, 0, -1, -1, 17, 18);
  if (backward || failed) return;
  const std::uint16_t block = GroupBlockAt(n);
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, 0, start, rows, size)) return;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const std::uint32_t row = start + 18 * i;
    SetField(*image, row + 16, 0x003F, 0, GetField(*image, row + 14, 0x000F, 0));
    SetField(*image, row + 14, 0x000F, 0, 0);
  }
}

void VYXParmsFormat59510::OnGroupBlock1(std::uint16_t n) {
  if (!Active()) return;
  if (convertLayout) SetGroupRowSize(1, n, 1, -1, -1, 15, 15);
  if (backward || failed) return;
  const std::uint16_t block = GroupBlockAt(n);
  std::uint32_t start = 0;
  std::uint8_t rows = 0, size = 0;
  if (block == 0 || !Table(block, 1, start, rows, size)) return;
  for (std::uint32_t i = 0; i < rows; ++i) {
    const std::uint32_t row = start + size * i;
    SetField(*image, row + 12, 0x00FC, 2, GetField(*image, row + 11, 0x3C00, 10));
    SetField(*image, row + 11, 0x3C00, 10, 0);
  }
}

void VYXParmsFormat59510::OnGroupBlock2(std::uint16_t n) {
  if (convertLayout) SetGroupRowSize(1, n, 2, -1, -1, 13, 13);
}
void VYXParmsFormat59510::OnGroupBlock3(std::uint16_t n) {
  if (convertLayout) SetGroupRowSize(1, n, 3, -1, -1, 13, 13);
}
void VYXParmsFormat59510::OnGroupBlock4(std::uint16_t n) {
  if (convertLayout) SetGroupRowSize(1, n, 4, -1, -1, 14, 14);
}

}  // namespace bcu::codeplug
