#include "codeplug/TableAccess.h"

#include "codeplug/Blocks.h"

namespace bcu::codeplug {

TableWord DecodeTableWord(Word word, bool wide) {
  if (wide)
    return {static_cast<std::uint16_t>(word & 0x07FF), static_cast<std::uint8_t>(word >> 11)};
  return {static_cast<std::uint16_t>(word & 0x0FFF), static_cast<std::uint8_t>(word >> 12)};
}

Word EncodeTableWord(TableWord tableWord, bool wide) {
  if (wide)
    return static_cast<Word>(((tableWord.count & 0x1F) << 11) | (tableWord.offset & 0x07FF));
  return static_cast<Word>(((tableWord.count & 0x0F) << 12) | (tableWord.offset & 0x0FFF));
}

bool LocateBlock(const CodeplugImage&, RadioBlock, std::uint16_t& pos) {
  pos = 0;
  return true;
}
bool LocateBlock(const CodeplugImage& image, SystemTypeBlock block, std::uint16_t& pos) {
  pos = FindSystemTypeBlock(image, block.code);
  return pos != 0;
}
bool LocateBlock(const CodeplugImage& image, SystemBlock block, std::uint16_t& pos) {
  pos = FindSystemBlock(image, block.number);
  return pos != 0;
}
bool LocateBlock(const CodeplugImage& image, GroupBlock block, std::uint16_t& pos) {
  pos = FindGroupBlock(image, block.ordinal);
  return pos != 0;
}

TableWord GetTableWord(const CodeplugImage& image, std::uint16_t blockPosition) {
  return DecodeTableWord(WordAt(image, blockPosition + 2u), true);
}

void SetTableWord(CodeplugImage& image, std::uint16_t blockPosition, int offset, int count) {
  TableWord t = GetTableWord(image, blockPosition);
  if (offset != -1) t.offset = static_cast<std::uint16_t>(offset);
  if (count != -1) t.count = static_cast<std::uint8_t>(count);
  PutWord(image, blockPosition + 2u, EncodeTableWord(t, true));
}

DirectoryEntry GetDirectoryEntry(const CodeplugImage& image, std::uint16_t blockPosition,
                                 std::uint32_t k) {
  const Word e = WordAt(image, blockPosition + GetTableWord(image, blockPosition).offset + k);
  return {static_cast<std::uint8_t>(e >> 8), static_cast<std::uint8_t>(e & 0xFF)};
}

void SetDirectoryEntry(CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k, int rows,
                       int size) {
  const std::uint32_t pos = blockPosition + GetTableWord(image, blockPosition).offset + k;
  DirectoryEntry e = GetDirectoryEntry(image, blockPosition, k);
  if (rows != -1) e.rows = static_cast<std::uint8_t>(rows);
  if (size != -1) e.size = static_cast<std::uint8_t>(size);
  PutWord(image, pos, static_cast<Word>((e.rows << 8) | e.size));
}

std::uint16_t GetBlockLength(const CodeplugImage& image, std::uint16_t blockPosition) {
  return LengthOfBlock(image, blockPosition);
}

void SetBlockLength(CodeplugImage& image, std::uint16_t blockPosition, std::uint16_t length) {
  const std::uint32_t pos = blockPosition + 1u;
  PutWord(image, pos,
          static_cast<Word>((WordAt(image, pos) & ~kMaxBlockLength) | (length & kMaxBlockLength)));
}

std::uint32_t TableStart(const CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k,
                         std::uint8_t* rows, std::uint8_t* rowSize) {
  const TableWord t = GetTableWord(image, blockPosition);
  const std::uint32_t directory = blockPosition + t.offset;
  std::uint32_t pos = directory + t.count;
  for (std::uint32_t j = 0; j < k; ++j) {
    const Word e = WordAt(image, directory + j);
    pos += static_cast<std::uint32_t>(e >> 8) * (e & 0xFF);
  }
  const Word e = WordAt(image, directory + k);
  if (rows) *rows = static_cast<std::uint8_t>(e >> 8);
  if (rowSize) *rowSize = static_cast<std::uint8_t>(e & 0xFF);
  return pos;
}

std::uint32_t TablesEnd(const CodeplugImage& image, std::uint16_t blockPosition, bool wide) {
  const TableWord t = DecodeTableWord(WordAt(image, blockPosition + 2u), wide);
  const std::uint32_t directory = blockPosition + t.offset;
  std::uint32_t pos = directory + t.count;
  for (std::uint32_t j = 0; j < t.count; ++j) {
    const Word e = WordAt(image, directory + j);
    pos += static_cast<std::uint32_t>(e >> 8) * (e & 0xFF);
  }
  return pos;
}

bool TableFits(const CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k) {
  const TableWord t = GetTableWord(image, blockPosition);
  if (k >= t.count) return false;
  std::uint8_t rows = 0, size = 0;
  const std::uint32_t end =
      TableStart(image, blockPosition, k, &rows, &size) + static_cast<std::uint32_t>(rows) * size;
  const std::uint32_t blockEnd =
      blockPosition + static_cast<std::uint32_t>(GetBlockLength(image, blockPosition));
  return end <= blockEnd && end <= kImageWords;
}

}  // namespace bcu::codeplug
