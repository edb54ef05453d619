#pragma once
// Codeplug files: the image exactly as the radio sends it, big-endian 16-bit
// words, as many bytes as were uploaded (even, at most 65,536). A whole image
// holds at least ImageLength words: the blocks and the 128 words after them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codeplug/CodeplugImage.h"

namespace bcu::codeplug {

// The image in host order from radio bytes; the rest of the buffer is zero.
// False (with the reason) when the count is odd or above 65,536 bytes.
bool ImageFromRadioBytes(std::span<const std::uint8_t> bytes, CodeplugImage& image,
                         std::string& error);
// The first byteCount bytes of the image as the radio sends them.
std::vector<std::uint8_t> RadioBytesOfImage(const CodeplugImage& image, std::size_t byteCount);

// False with the reason when `byteCount` bytes do not hold the whole image
// that word 4 declares (its last words would be missing).
bool ImageIsWhole(const CodeplugImage& image, std::size_t byteCount, std::string& reason);

// Reads at most 65,536 bytes; a refusal names its reason (no such file, a
// folder, permission denied, larger than 65536 bytes, an odd byte count).
// `notACodeplug`, when given, tells the last two (the file was read but can
// hold no codeplug) from the others.
bool ReadCodeplugFile(const std::string& path, CodeplugImage& image, std::size_t& byteCount,
                      std::string& error, bool* notACodeplug = nullptr);
// Writes the first byteCount bytes atomically, readable by the owner only: the
// file is either the old one or the whole new image, never a part of it.
bool WriteCodeplugFile(const std::string& path, const CodeplugImage& image, std::size_t byteCount,
                       std::string& error);

}  // namespace bcu::codeplug
