#include "codeplug/ParmsFormatChain.h"

#include <bitset>

#include "codeplug/Blocks.h"
#include "codeplug/VYXParmsFormat5859.h"
#include "codeplug/VYXParmsFormat59510.h"
#include "codeplug/Validity.h"

namespace bcu::codeplug {
namespace {

// Runs converter i (4: 5859, 5: 59510; others have none) on the image.
bool RunConverter(std::uint8_t i, CodeplugImage& image, bool backward, bool refresh,
                  std::int32_t& growth) {
  VYXParmsFormat5859 c5859;
  VYXParmsFormat59510 c59510;
  VYXParmsFormatConvertBase* converter = nullptr;
  if (i == 4)
    converter = &c5859;
  else if (i == 5)
    converter = &c59510;
  else
    return true;
  if (refresh)
    converter->Refresh(&image, backward);
  else
    converter->Convert(&image, backward);
  growth += converter->GetGrowth();
  return !converter->Failed();
}

bool Prepared(const CodeplugImage& image, CodeplugImage& scratch, bool wide) {
  if (!ParmsImageChainFits(image, wide) || !SystemNumbersAreComplete(image)) return false;
  scratch = image;
  return true;
}

// The converted image's chain must be whole in its target layout.
bool Finished(std::int32_t& growth, std::int32_t grown, const CodeplugImage& result, bool wide) {
  if (!ParmsImageChainFits(result, wide)) return false;
  growth = grown;
  return true;
}

bool Upgrade(std::int32_t& growth, const CodeplugImage& image, std::uint8_t fromIndex,
             std::uint8_t toIndex, CodeplugImage& scratch) {
  growth = 0;
  if (!Prepared(image, scratch, fromIndex >= 5)) return false;
  std::int32_t grown = 0;
  if (fromIndex < 5) SetTableWordLayout(scratch, true);
  for (unsigned i = fromIndex + 1u; i <= toIndex; ++i)
    if (!RunConverter(static_cast<std::uint8_t>(i), scratch, false, false, grown)) return false;
  if (fromIndex == toIndex && !RunConverter(toIndex, scratch, false, true, grown)) return false;
  if (toIndex < 5) SetTableWordLayout(scratch, false);
  return Finished(growth, grown, scratch, toIndex >= 5);
}

bool Downgrade(std::int32_t& growth, const CodeplugImage& image, std::uint8_t toIndex,
               std::uint8_t fromIndex, CodeplugImage& scratch) {
  growth = 0;
  if (!Prepared(image, scratch, fromIndex >= 5)) return false;
  std::int32_t grown = 0;
  if (fromIndex < 5) SetTableWordLayout(scratch, true);
  for (int i = fromIndex; i > toIndex && i > 0; --i)
    if (!RunConverter(static_cast<std::uint8_t>(i), scratch, true, false, grown)) return false;
  if (toIndex < 5) SetTableWordLayout(scratch, false);
  return Finished(growth, grown, scratch, toIndex >= 5);
}

}  // namespace

bool SystemNumbersAreComplete(const CodeplugImage& image) {
  const std::uint32_t count = SystemBlockCount(image);
  // Only the chain: the words after it are data, however they read.
  const std::uint32_t end = BlocksEnd(image);
  std::bitset<256> seen;
  std::uint32_t found = 0;
  for (std::uint32_t pos = 0; pos < end && IsBlockMark(image, pos);) {
    if (KindOfBlock(image, pos) == kSystemBlock) {
      const std::uint16_t n = SystemNumberOfBlock(image, pos);
      if (n < 1 || n > count || seen.test(n)) return false;
      seen.set(n);
      ++found;
    }
    const std::uint32_t length = LengthOfBlock(image, pos);
    if (length == 0) break;
    pos += length;
  }
  return found == count;
}

bool ParmsFormatConvert(std::int32_t& growth, const CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex, CodeplugImage& result) {
  return fromIndex <= toIndex ? Upgrade(growth, image, fromIndex, toIndex, result)
                              : Downgrade(growth, image, toIndex, fromIndex, result);
}

bool ParmsFormatUpgrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex, CodeplugImage& scratch) {
  std::int32_t grown = 0;
  if (!Upgrade(grown, image, fromIndex, toIndex, scratch)) return (growth = 0, false);
  image = scratch;
  growth = grown;
  return true;
}

bool ParmsFormatDowngrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t toIndex,
                          std::uint8_t fromIndex, CodeplugImage& scratch) {
  std::int32_t grown = 0;
  if (!Downgrade(grown, image, toIndex, fromIndex, scratch)) return (growth = 0, false);
  image = scratch;
  growth = grown;
  return true;
}

bool ParmsFormatUpgrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex) {
  CodeplugImage scratch;
  return ParmsFormatUpgrade(growth, image, fromIndex, toIndex, scratch);
}

bool ParmsFormatDowngrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t toIndex,
                          std::uint8_t fromIndex) {
  CodeplugImage scratch;
  return ParmsFormatDowngrade(growth, image, toIndex, fromIndex, scratch);
}

}  // namespace bcu::codeplug
