#include "sim/BuiltinCodeplug.h"

#include <memory>
#include <string>

#include "codeplug/CodeplugBuilder.h"

namespace bcu::sim {
namespace {

constexpr std::uint16_t kMark = 0x5F5F;

// Appends one block: mark, kind and length, table word, tag, fixed fields up
// to the directory, a directory of 15 entries (table 0: 2 rows of 3 words)
// and table 0's words.
void AddBlock(std::vector<std::uint16_t>& w, int kind, std::uint16_t tag, int dirOffset, bool wide,
              std::uint16_t fill) {
  const std::size_t start = w.size();
  constexpr int kTables = 15;
  constexpr int kRows = 2, kRowSize = 3;
  const int length = dirOffset + kTables + kRows * kRowSize;
  w.resize(start + static_cast<std::size_t>(length), 0);
  w[start] = kMark;
  w[start + 1] = static_cast<std::uint16_t>((kind << 14) | length);
  w[start + 2] = wide ? static_cast<std::uint16_t>((kTables << 11) | dirOffset)
                      : static_cast<std::uint16_t>((kTables << 12) | dirOffset);
  w[start + 3] = tag;
  for (int i = 4; i < dirOffset; ++i) w[start + static_cast<std::size_t>(i)] = fill;
  w[start + static_cast<std::size_t>(dirOffset)] =
      static_cast<std::uint16_t>((kRows << 8) | kRowSize);
  for (int i = 0; i < kRows * kRowSize; ++i)
    w[start + static_cast<std::size_t>(dirOffset + kTables + i)] =
        static_cast<std::uint16_t>(fill + i);
}

}  // namespace

std::vector<std::uint8_t> BuildBuiltinCodeplug(std::uint8_t major, std::uint8_t minor) {
  // Formats the converters know get a full image from the codeplug builder;
  // any other format a minimal chain of four blocks.
  if (major == 5 && minor >= 8 && minor <= 10) {
    codeplug::CodeplugShape shape;
    shape.version = {major, minor};
    auto image = std::make_unique<codeplug::CodeplugImage>();
    std::size_t byteCount = 0;
    if (codeplug::BuildCodeplug(shape, *image, byteCount)) {
      std::vector<std::uint8_t> bytes;
      bytes.reserve(byteCount);
      for (std::size_t i = 0; i < byteCount / 2; ++i) {
        bytes.push_back(static_cast<std::uint8_t>((*image)[i] >> 8));
        bytes.push_back(static_cast<std::uint8_t>((*image)[i] & 0xFF));
      }
      return bytes;
    }
  }
  return BuildMinimalCodeplug(major, minor);
}

std::vector<std::uint8_t> BuildMinimalCodeplug(std::uint8_t major, std::uint8_t minor) {
  const bool wide = major == 5 && minor >= 10;
  std::vector<std::uint16_t> w;
  AddBlock(w, 0, static_cast<std::uint16_t>((major << 8) | minor), wide ? 69 : 49, wide, 0);
  AddBlock(w, 1, 0x0000, 54, wide, 0x0101);  // system-type block, code 0
  AddBlock(w, 2, 0x0001, 81, wide, 0x0202);  // system 1, type 0
  AddBlock(w, 3, 0x0000, 23, wide, 0x0303);  // group 1
  const std::size_t blocksEnd = w.size();
  w.resize(blocksEnd + 128, 0);                      // trailing words
  w[4] = static_cast<std::uint16_t>(w.size());       // ImageLength
  w[5] = 0;                                          // variant code
  w[14] = static_cast<std::uint16_t>((1 << 8) | 1);  // one group, one system
  // The system alias, a text field at words 65-69 of the system block.
  const std::size_t system =
      static_cast<std::size_t>(w[1] & 0x3FFF) + (w[(w[1] & 0x3FFF) + 1] & 0x3FFF);
  const std::string alias = "SYSTEM 1  ";
  for (int k = 0; k < 5; ++k)
    w[system + 65 + static_cast<std::size_t>(k)] =
        static_cast<std::uint16_t>(static_cast<std::uint8_t>(alias[2 * k]) |
                                   (static_cast<std::uint8_t>(alias[2 * k + 1]) << 8));
  std::vector<std::uint8_t> bytes;
  bytes.reserve(w.size() * 2);
  for (std::uint16_t v : w) {
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  return bytes;
}

std::size_t DeclaredImageBytes(const std::vector<std::uint8_t>& image) {
  if (image.size() < 10 || image[0] != 0x5F || image[1] != 0x5F) return 0;
  return 2u * ((static_cast<std::size_t>(image[8]) << 8) | image[9]);
}

}  // namespace bcu::sim
