#include "codeplug/Validity.h"

#include <bitset>

#include "codeplug/Blocks.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/TableAccess.h"

namespace bcu::codeplug {
namespace {

constexpr std::uint32_t kMinBlockLength = 4;  // mark, length, table word, tag

// Directory and tables of the block at pos lie inside the block.
bool BlockTablesFit(const CodeplugImage& image, std::uint32_t pos, std::uint32_t length,
                    bool wide) {
  const TableWord t = DecodeTableWord(WordAt(image, pos + 2), wide);
  if (t.count > 0 && t.offset < kMinBlockLength) return false;
  if (static_cast<std::uint32_t>(t.offset) + t.count > length) return false;
  return TablesEnd(image, static_cast<std::uint16_t>(pos), wide) <= pos + length;
}

std::string Walk(const CodeplugImage& image, bool wide, bool countBlocks) {
  const std::uint32_t end = ImageLength(image) - kTrailerWords;
  std::uint32_t pos = 0;
  unsigned systemTypeBlocks = 0, systemBlocks = 0, groupBlocks = 0;
  std::bitset<16> types;
  while (pos < end) {
    if (!IsBlockMark(image, pos)) return "no block mark at word " + std::to_string(pos);
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length < kMinBlockLength)
      return "block at word " + std::to_string(pos) + " is shorter than 4 words";
    if (pos + length > end)
      return "block at word " + std::to_string(pos) + " runs past the end of the blocks";
    if (!BlockTablesFit(image, pos, length, wide))
      return "tables of the block at word " + std::to_string(pos) + " do not fit in it";
    switch (KindOfBlock(image, pos)) {
      case kSystemTypeBlock:
        ++systemTypeBlocks;
        break;
      case kSystemBlock: {
        const std::uint16_t type = SystemTypeOfBlock(image, pos);
        types.set(type == 3 ? 1 : type);
        ++systemBlocks;
        break;
      }
      case kGroupBlock:
        ++groupBlocks;
        break;
      default:
        break;
    }
    pos += length;
  }
  if (pos != end) return "the blocks do not end 128 words before the image length";
  if (!countBlocks) return {};
  if (types.count() != systemTypeBlocks)
    return "system-type blocks do not match the system types in use";
  if (systemBlocks != SystemBlockCount(image))
    return "the number of system blocks differs from the block counts";
  if (groupBlocks != GroupBlockCount(image))
    return "the number of group blocks differs from the block counts";
  return {};
}

std::string HeaderFault(const CodeplugImage& image) {
  if (image[0] != kBlockMark) return "no block mark at word 0";
  if (KindOfBlock(image, 0) != kRadioBlock) return "the first block is not a radio block";
  const std::uint32_t length = ImageLength(image);
  if (length <= kTrailerWords) return "image length of 128 words or less";
  if (length > kImageWords) return "image length beyond 32768 words";
  const unsigned groups = GroupBlockCount(image), systems = SystemBlockCount(image);
  if (groups < 1 || groups > 54) return "group block count outside 1 to 54";
  if (systems < 1 || systems > 16) return "system block count outside 1 to 16";
  return {};
}

}  // namespace

bool ImageUsesWideLayout(const CodeplugImage& image) {
  return ParmsFormatIndex(image) == kFormatIndex510;
}

bool ParmsImageHeaderIsValid(const CodeplugImage& image) {
  return HeaderFault(image).empty();
}

bool ParmsImageChainFits(const CodeplugImage& image, bool wide) {
  return ParmsImageHeaderIsValid(image) && Walk(image, wide, false).empty();
}

ImageCheck CheckParmsImage(const CodeplugImage& image) {
  std::string fault = HeaderFault(image);
  if (fault.empty()) fault = Walk(image, ImageUsesWideLayout(image), true);
  return {fault.empty(), fault};
}

bool ParmsImageIsValid(const CodeplugImage& image) {
  return CheckParmsImage(image).valid;
}

}  // namespace bcu::codeplug
