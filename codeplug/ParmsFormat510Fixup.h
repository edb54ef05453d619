#pragma once
#include <cstdint>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// The pass over every image converted to 5.10: defaults fields that 5.10 code
// needs set, bounds type-0 word 8 by its table 3, and caps type-3 table 11 at
// 16 rows. Returns the growth in words of that cap (0 or negative); the rest
// of the image keeps its length.
std::int32_t ParmsFormat510Fixup(CodeplugImage& image);

}  // namespace bcu::codeplug
