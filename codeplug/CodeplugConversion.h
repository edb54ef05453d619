#pragma once
// One whole conversion of a codeplug image between two formats, as the update
// and the convert command run it: the chain of converters, the 5.10 pass when
// the target is 5.10, the new byte count, and a last check of the result.
//
// Whatever the converters did, an image that fails the validity check
// afterwards is never handed on: it would be written into a radio or a file
// as a codeplug the radio cannot use. On failure the image is left as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

struct ConversionResult {
  bool converted = false;
  std::int32_t growth = 0;       // words, the converters' and the 5.10 pass's together
  std::int32_t fixupGrowth = 0;  // words, the 5.10 pass's part of it
  std::size_t byteCount = 0;     // bytes of the converted image to write
  std::string failure;           // why not, when not converted
};

// Converts `image` (in host order, valid, of format index `fromIndex`; both
// indexes 5.8 to 5.10 and different) to `toIndex`. `byteCount` is the number
// of bytes the image came with; the result's count is that plus twice the
// growth, so every word that came along (the 128 words after the blocks
// included) goes out again. `scratch` is working memory.
ConversionResult ConvertCodeplugImage(CodeplugImage& image, std::size_t byteCount,
                                      std::uint8_t fromIndex, std::uint8_t toIndex,
                                      CodeplugImage& scratch);

}  // namespace bcu::codeplug
