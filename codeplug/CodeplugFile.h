#pragma once
// Codeplug files: the image exactly as the radio sends it, big-endian 16-bit
// words, as many bytes as were uploaded (even, at most 65,536).
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

bool ReadCodeplugFile(const std::string& path, CodeplugImage& image, std::size_t& byteCount,
                      std::string& error);
// Writes the file mode 0600 (it holds a radio's configuration).
bool WriteCodeplugFile(const std::string& path, const CodeplugImage& image, std::size_t byteCount,
                       std::string& error);

}  // namespace bcu::codeplug
