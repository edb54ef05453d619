#pragma once
// The structural check of an image received from a radio.
#include <cstdint>
#include <string>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// What the walk over the blocks found.
struct ImageCheck {
  bool valid = false;
  std::string reason;  // why not, in a few words; empty when valid
};

// The table word layout of an image as the radio keeps it: wide for format
// 5.10, narrow for every earlier one.
bool ImageUsesWideLayout(const CodeplugImage& image);

// The header checks: block mark and radio kind at word 0, ImageLength above 128
// and within the buffer, 1-54 group blocks and 1-16 system blocks.
bool ParmsImageHeaderIsValid(const CodeplugImage& image);

// The blocks' layout in the given table word layout: every block at least 4
// words long, its directory and tables inside the block, the chain ending
// exactly 128 words before ImageLength.
bool ParmsImageChainFits(const CodeplugImage& image, bool wide);

// The whole check, with the reason when it fails.
ImageCheck CheckParmsImage(const CodeplugImage& image);

// True when the image passes every check: header, chain, block counts, one
// system-type block per system type in use (types 1 and 3 share one), and
// directories and tables inside their blocks in the image's own layout.
bool ParmsImageIsValid(const CodeplugImage& image);

}  // namespace bcu::codeplug
