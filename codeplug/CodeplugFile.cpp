#include "codeplug/CodeplugFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/PrivateFile.h"

namespace bcu::codeplug {

bool ImageFromRadioBytes(std::span<const std::uint8_t> bytes, CodeplugImage& image,
                         std::string& error) {
  if (bytes.size() % 2 != 0) {
    error = "odd byte count " + std::to_string(bytes.size());
    return false;
  }
  if (bytes.size() > kImageBytes) {
    error = "more than 65536 bytes";
    return false;
  }
  image.fill(0);
  for (std::size_t i = 0; i < bytes.size() / 2; ++i)
    image[i] = static_cast<Word>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  return true;
}

std::vector<std::uint8_t> RadioBytesOfImage(const CodeplugImage& image, std::size_t byteCount) {
  if (byteCount > kImageBytes) byteCount = kImageBytes;
  std::vector<std::uint8_t> bytes(byteCount);
  for (std::size_t i = 0; i < byteCount; ++i)
    bytes[i] = static_cast<std::uint8_t>(i % 2 == 0 ? image[i / 2] >> 8 : image[i / 2] & 0xFF);
  return bytes;
}

bool ReadCodeplugFile(const std::string& path, CodeplugImage& image, std::size_t& byteCount,
                      std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::uint8_t> bytes;
  char c;
  while (in.get(c)) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    if (bytes.size() > kImageBytes) break;
  }
  if (!ImageFromRadioBytes(bytes, image, error)) {
    error = path + ": " + error;
    return false;
  }
  byteCount = bytes.size();
  return true;
}

bool WriteCodeplugFile(const std::string& path, const CodeplugImage& image, std::size_t byteCount,
                       std::string& error) {
  const std::vector<std::uint8_t> bytes = RadioBytesOfImage(image, byteCount);
  // A radio's configuration: readable by its owner only.
  std::FILE* out = platform::OpenPrivateFile(path, error);
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    error = path + ": cannot write";
    return false;
  }
  return true;
}

}  // namespace bcu::codeplug
