#pragma once
// The codeplug of a radio that was given no image file, big-endian as the
// radio sends it: for formats 5.8 to 5.10 a full image from the codeplug
// builder (every system type, two groups, seed 1), for any other format the
// minimal image below.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bcu::sim {

std::vector<std::uint8_t> BuildBuiltinCodeplug(std::uint8_t major, std::uint8_t minor);

// A small well-formed image: a radio block, one system-type block, one system
// block of type 0 and one group block, each with one small table, followed by
// the 128 trailing words.
std::vector<std::uint8_t> BuildMinimalCodeplug(std::uint8_t major, std::uint8_t minor);

// The number of bytes an image declares (its ImageLength word, big-endian at
// byte 8, times 2); 0 when the image is too short or does not start with a
// block mark.
std::size_t DeclaredImageBytes(const std::vector<std::uint8_t>& image);

}  // namespace bcu::sim
