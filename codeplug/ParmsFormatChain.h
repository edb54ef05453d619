#pragma once
// Running the converters between two format indexes.
//
// The upgrade widens the table words (formats before 5.10 keep them narrow),
// runs each converter from the one above `from` up to `to` (5859 for 5.9, 59510
// for 5.10; other steps have none), or the target's converter in refresh mode
// when the indexes are equal, and narrows again below 5.10. The downgrade runs
// the converters from `from` down to the one above `to`.
//
// A conversion is all or nothing: it runs on a scratch copy and the image is
// replaced only when every step fitted (the image inside the buffer, every
// table inside its block, system blocks numbered 1 to their count) and the
// result's chain of blocks is whole. On failure the image is left as it was,
// growth is 0 and the result is false.
#include <cstdint>

#include "codeplug/CodeplugImage.h"
#include "codeplug/TableWordLayout.h"

namespace bcu::codeplug {

// `growth`: ImageLength after minus before, in words.
bool ParmsFormatUpgrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex);
bool ParmsFormatDowngrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t toIndex,
                          std::uint8_t fromIndex);

// The same with the caller's scratch image (no 64 KiB on this stack).
bool ParmsFormatUpgrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex, CodeplugImage& scratch);
bool ParmsFormatDowngrade(std::int32_t& growth, CodeplugImage& image, std::uint8_t toIndex,
                          std::uint8_t fromIndex, CodeplugImage& scratch);

// The conversion from `fromIndex` to `toIndex` (the upgrade when from is not
// above to, else the downgrade) into `result`, leaving `image` as it is; the
// words of `result` are unspecified when it fails.
bool ParmsFormatConvert(std::int32_t& growth, const CodeplugImage& image, std::uint8_t fromIndex,
                        std::uint8_t toIndex, CodeplugImage& result);

// True when the system blocks are numbered 1 to the system block count, each
// number once; the converters visit systems by number.
bool SystemNumbersAreComplete(const CodeplugImage& image);

}  // namespace bcu::codeplug
