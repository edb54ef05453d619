#pragma once
// Switching every block's table word between the narrow layout (count in bits
// 15-12, as the radio keeps formats up to 5.9) and the wide one (count in bits
// 15-11, format 5.10 and every table operation).
#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// Walks the blocks from position 0 while there is a block mark below
// ImageLength and rewrites each table word into the wide (or narrow) layout.
void SetTableWordLayout(CodeplugImage& image, bool wide);

}  // namespace bcu::codeplug
