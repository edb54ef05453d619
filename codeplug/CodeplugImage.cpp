#include "codeplug/CodeplugImage.h"

#include <utility>

namespace bcu::codeplug {

void ParmsImageSwapBytes(std::uint8_t* buffer, std::size_t byteCount) {
  if (byteCount > kImageBytes) byteCount = kImageBytes;
  // An odd count still swaps its last pair: the buffer is always whole words.
  for (std::size_t i = 0; 2 * i < byteCount; ++i) std::swap(buffer[2 * i], buffer[2 * i + 1]);
}

void ParmsImageSwapBytes(CodeplugImage& image, std::size_t byteCount) {
  ParmsImageSwapBytes(reinterpret_cast<std::uint8_t*>(image.data()), byteCount);
}

}  // namespace bcu::codeplug
