#include "codeplug/CodeplugConversion.h"

#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/Validity.h"

namespace bcu::codeplug {

ConversionResult ConvertCodeplugImage(CodeplugImage& image, std::size_t byteCount,
                                      std::uint8_t fromIndex, std::uint8_t toIndex,
                                      CodeplugImage& scratch) {
  ConversionResult result;
  // Everything happens on the scratch copy; the image changes only when the
  // result is taken.
  const auto refuse = [&](std::string why) {
    result = ConversionResult{};
    result.failure = std::move(why);
    return result;
  };

  std::int32_t growth = 0;
  if (!ParmsFormatConvert(growth, image, fromIndex, toIndex, scratch))
    return refuse("the converted image does not fit (too large or a damaged table)");
  std::int32_t fixup = 0;
  if (toIndex == kFormatIndex510) fixup = ParmsFormat510Fixup(scratch);

  const ImageCheck check = CheckParmsImage(scratch);
  if (!check.valid) return refuse("the converted image fails the validity check: " + check.reason);

  std::int64_t count = static_cast<std::int64_t>(byteCount) + 2 * std::int64_t{growth + fixup};
  const std::int64_t imageBytes = 2 * std::int64_t{ImageLength(scratch)};
  // Bytes that came along after the image may be pushed out of the buffer;
  // the image itself always fits once it passed the check.
  if (count > kImageBytes && imageBytes <= kImageBytes) count = kImageBytes;
  if (count < 0 || count > kImageBytes) return refuse("the converted image does not fit");

  image = scratch;
  result.converted = true;
  result.growth = growth + fixup;
  result.fixupGrowth = fixup;
  result.byteCount = static_cast<std::size_t>(count);
  return result;
}

}  // namespace bcu::codeplug
