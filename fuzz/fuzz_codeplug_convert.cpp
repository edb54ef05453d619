// Conversion of arbitrary images: the first two bytes pick the step, the rest
// is the image (when the check passes) or a built image damaged by the bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "codeplug/CodeplugBuilder.h"
#include "codeplug/CodeplugConversion.h"
#include "codeplug/CodeplugFile.h"
#include "codeplug/FormatVersion.h"
#include "codeplug/ParmsFormat510Fixup.h"
#include "codeplug/ParmsFormatChain.h"
#include "codeplug/Validity.h"

using namespace bcu::codeplug;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto image = std::make_unique<CodeplugImage>();
  static auto scratch = std::make_unique<CodeplugImage>();
  if (size < 4) return 0;
  const std::uint8_t from = 3 + data[0] % 3, to = 3 + data[1] % 3;
  const bool damage = data[2] & 1;
  data += 4;
  size -= 4;
  std::size_t byteCount = 0;
  if (damage) {
    // A valid image of the source format with words replaced: (position, value)
    // pairs of 4 bytes each.
    CodeplugShape shape;
    shape.version = VersionOfFormatIndex(from);
    shape.seed = size;
    shape.variantCode = static_cast<std::uint8_t>(size % 16);
    if (!BuildCodeplug(shape, *image, byteCount)) return 0;
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
      const std::uint32_t pos = (data[i] << 8 | data[i + 1]) % (byteCount / 2);
      (*image)[pos] = static_cast<Word>(data[i + 2] << 8 | data[i + 3]);
    }
  } else {
    std::string error;
    if (size > kImageBytes) size = kImageBytes;
    if (!ImageFromRadioBytes(std::span(data, size & ~std::size_t{1}), *image, error)) return 0;
    byteCount = size & ~std::size_t{1};
  }
  std::int32_t growth = 0;
  const auto before = std::make_unique<CodeplugImage>(*image);
  const bool ok = from <= to ? ParmsFormatUpgrade(growth, *image, from, to, *scratch)
                             : ParmsFormatDowngrade(growth, *image, to, from, *scratch);
  if (!ok && (growth != 0 || *image != *before)) __builtin_trap();  // a failure leaves the image
  if (ok && to == 5) (void)ParmsFormat510Fixup(*image);
  (void)ParmsImageIsValid(*image);

  // A whole conversion of a valid image of the source format either gives a
  // valid image with the words after its blocks as they were, or leaves the
  // image untouched.
  if (from == to || !ParmsImageIsValid(*before) || ParmsFormatIndex(*before) != from) return 0;
  *image = *before;
  const ConversionResult result = ConvertCodeplugImage(*image, byteCount, from, to, *scratch);
  if (!result.converted) {
    if (*image != *before) __builtin_trap();
    return 0;
  }
  if (!ParmsImageIsValid(*image)) __builtin_trap();
  const std::uint32_t oldEnd = ImageLength(*before), newEnd = ImageLength(*image);
  for (std::uint32_t i = 1; i <= kTrailerWords; ++i)
    if ((*image)[newEnd - i] != (*before)[oldEnd - i]) __builtin_trap();
  return 0;
}
