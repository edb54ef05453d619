#pragma once
// A small but well-formed codeplug for a radio that was given no image file:
// a radio block, one system-type block, one system block of type 0 and one
// group block, each with one small table, followed by the 128 trailing words.
// Returned big-endian, as the radio sends it.
#include <cstdint>
#include <vector>

namespace bcu::sim {

std::vector<std::uint8_t> BuildBuiltinCodeplug(std::uint8_t major, std::uint8_t minor);

// The number of bytes an image declares (its ImageLength word, big-endian at
// byte 8, times 2); 0 when the image is too short or does not start with a
// block mark.
std::size_t DeclaredImageBytes(const std::vector<std::uint8_t>& image);

}  // namespace bcu::sim
