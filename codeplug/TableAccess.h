#pragma once
// Table words, directory entries and block lengths, for each way of finding a
// block.
//
// Word 2 of a block is its table word. In the wide layout (the only one these
// operations read) bits 15-11 hold the table count and bits 10-0 the directory
// offset from the block's position; in the narrow layout that the radio keeps
// up to format 5.9, bits 15-12 and 11-0. The directory holds one entry per
// table: high byte row count, low byte row size in words. Table 0 follows the
// directory; each later table follows the one before it.
//
// Every family has a core member that takes the block position and members
// that find the block first: RadioBlock, SystemTypeBlock (by code), SystemBlock
// (by number), GroupBlock (by ordinal). A block that cannot be found is never
// replaced by the radio block: getters answer 0, setters change nothing.
#include <cstdint>
#include <type_traits>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

struct RadioBlock {};
struct SystemTypeBlock {
  std::uint16_t code;
};
struct SystemBlock {
  std::uint16_t number;
};
struct GroupBlock {
  std::uint16_t ordinal;
};

struct TableWord {
  std::uint16_t offset = 0;  // directory offset from the block's position
  std::uint8_t count = 0;    // number of tables
};

struct DirectoryEntry {
  std::uint8_t rows = 0;
  std::uint8_t size = 0;  // row size in words
};

TableWord DecodeTableWord(Word word, bool wide);
// Offset and count must fit the layout; excess bits are cut.
Word EncodeTableWord(TableWord tableWord, bool wide);

// Position of the block, or nothing (false) when it cannot be found.
bool LocateBlock(const CodeplugImage& image, RadioBlock, std::uint16_t& pos);
bool LocateBlock(const CodeplugImage& image, SystemTypeBlock block, std::uint16_t& pos);
bool LocateBlock(const CodeplugImage& image, SystemBlock block, std::uint16_t& pos);
bool LocateBlock(const CodeplugImage& image, GroupBlock block, std::uint16_t& pos);

TableWord GetTableWord(const CodeplugImage& image, std::uint16_t blockPosition);
// A part given as -1 is left unchanged.
void SetTableWord(CodeplugImage& image, std::uint16_t blockPosition, int offset, int count);

DirectoryEntry GetDirectoryEntry(const CodeplugImage& image, std::uint16_t blockPosition,
                                 std::uint32_t k);
// A part given as -1 is left unchanged.
void SetDirectoryEntry(CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k, int rows,
                       int size);

std::uint16_t GetBlockLength(const CodeplugImage& image, std::uint16_t blockPosition);
void SetBlockLength(CodeplugImage& image, std::uint16_t blockPosition, std::uint16_t length);

// Position of table k of the block; its row count and row size when asked for.
// The position is not cut to the buffer: a caller that reads the table checks
// it (see TableFits).
std::uint32_t TableStart(const CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k,
                         std::uint8_t* rows = nullptr, std::uint8_t* rowSize = nullptr);

template <typename Address>
concept BlockAddress =
    std::is_same_v<Address, RadioBlock> || std::is_same_v<Address, SystemTypeBlock> ||
    std::is_same_v<Address, SystemBlock> || std::is_same_v<Address, GroupBlock>;

// The members that find the block first.
template <BlockAddress Address>
TableWord GetTableWord(const CodeplugImage& image, Address block) {
  std::uint16_t pos = 0;
  return LocateBlock(image, block, pos) ? GetTableWord(image, pos) : TableWord{};
}
template <BlockAddress Address>
void SetTableWord(CodeplugImage& image, Address block, int offset, int count) {
  std::uint16_t pos = 0;
  if (LocateBlock(image, block, pos)) SetTableWord(image, pos, offset, count);
}
template <BlockAddress Address>
requires(!std::is_same_v<Address, SystemTypeBlock>) DirectoryEntry
    GetDirectoryEntry(const CodeplugImage& image, Address block, std::uint32_t k) {
  std::uint16_t pos = 0;
  return LocateBlock(image, block, pos) ? GetDirectoryEntry(image, pos, k) : DirectoryEntry{};
}
template <BlockAddress Address>
requires(!std::is_same_v<Address, SystemTypeBlock>) void SetDirectoryEntry(CodeplugImage& image,
                                                                           Address block,
                                                                           std::uint32_t k,
                                                                           int rows, int size) {
  std::uint16_t pos = 0;
  if (LocateBlock(image, block, pos)) SetDirectoryEntry(image, pos, k, rows, size);
}
template <BlockAddress Address>
std::uint16_t GetBlockLength(const CodeplugImage& image, Address block) {
  std::uint16_t pos = 0;
  return LocateBlock(image, block, pos) ? GetBlockLength(image, pos) : std::uint16_t{0};
}
template <BlockAddress Address>
void SetBlockLength(CodeplugImage& image, Address block, std::uint16_t length) {
  std::uint16_t pos = 0;
  if (LocateBlock(image, block, pos)) SetBlockLength(image, pos, length);
}

// End of the block's last table (one past its last word), wide layout.
std::uint32_t TablesEnd(const CodeplugImage& image, std::uint16_t blockPosition, bool wide);

// True when table k exists (k below the table count) and lies, with every
// table before it, inside the block and the buffer.
bool TableFits(const CodeplugImage& image, std::uint16_t blockPosition, std::uint32_t k);

}  // namespace bcu::codeplug
