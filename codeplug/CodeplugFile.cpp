#include "codeplug/CodeplugFile.h"

#include "platform/AtomicWrite.h"
#include "platform/BoundedRead.h"

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

bool ImageIsWhole(const CodeplugImage& image, std::size_t byteCount, std::string& reason) {
  const std::size_t words = ImageLength(image);
  if (byteCount >= 2 * words) return true;
  reason = "the file ends at word " + std::to_string(byteCount / 2) +
           ", before the end of the image at word " + std::to_string(words) + " (" +
           std::to_string(words - byteCount / 2) + " words missing)";
  return false;
}

bool ReadCodeplugFile(const std::string& path, CodeplugImage& image, std::size_t& byteCount,
                      std::string& error, bool* notACodeplug) {
  std::vector<std::uint8_t> bytes;
  bool tooLarge = false;
  if (notACodeplug != nullptr) *notACodeplug = false;
  if (!platform::ReadFileBounded(path, kImageBytes, bytes, error, &tooLarge)) {
    if (notACodeplug != nullptr) *notACodeplug = tooLarge;
    return false;
  }
  if (!ImageFromRadioBytes(bytes, image, error)) {
    error = path + ": " + error;
    if (notACodeplug != nullptr) *notACodeplug = true;
    return false;
  }
  byteCount = bytes.size();
  return true;
}

bool WriteCodeplugFile(const std::string& path, const CodeplugImage& image, std::size_t byteCount,
                       std::string& error) {
  const std::vector<std::uint8_t> bytes = RadioBytesOfImage(image, byteCount);
  platform::AtomicWriteOptions options;
  options.mode = platform::kPrivateFileMode;
  return platform::WriteFileAtomically(path, bytes, options, error);
}

}  // namespace bcu::codeplug
