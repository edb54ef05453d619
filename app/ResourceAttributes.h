#pragma once
// The attributes record embedded beside the firmware images: how the images are
// cut into chunks, which boot version they carry and which radios they are for.
// 68 bytes, little-endian.
#include <cstddef>
#include <cstdint>
#include <string>

namespace bcu::app {

inline constexpr std::size_t kResourceAttributesSize = 68;

enum UpgradeType : std::uint8_t {
  kUpgradeApplication = 0,
  kUpgradeBoot = 1,
  kUpgradeDsp = 2,
  kUpgradeApplicationBoot = 3,
};

struct ResourceAttributes {
  std::int32_t LoaderChunks = 0;
  std::int32_t CodeChunks = 0;
  std::int32_t BootLoaderChunks = 0;
  std::int32_t BootCodeChunks = 0;
  std::int32_t SecondBootLoaderChunks = 0;
  std::int32_t SecondBootCodeChunks = 0;
  std::int32_t BootMajor = 0;
  std::int32_t BootMinor = 0;
  std::int32_t SecondBootMajor = 0;
  std::int32_t SecondBootMinor = 0;
  char ConfigDeskVersion[10] = {};
  char TuneDeskVersion[10] = {};
  std::uint8_t RadioFamily = 0;  // 0 portable (6400), 1 mobile (6700)
  std::uint8_t NewPlatform = 0;
  std::uint8_t Series = 0;
  std::uint8_t UpgradeType = 0;
  std::uint8_t Processor416 = 0;
  char Tag[3] = {};
};

// Reads the record from its 68 stored bytes.
ResourceAttributes DecodeResourceAttributes(const std::uint8_t* bytes);
// Writes the record as its 68 stored bytes.
void EncodeResourceAttributes(const ResourceAttributes& a, std::uint8_t* bytes);
// A fixed text field up to its first zero byte (or all 10 characters).
std::string AttributeText(const char (&field)[10]);
// "Application", "Boot", "DSP", "Application/Boot"; empty for other values.
const char* UpgradeTypeName(std::uint8_t type);

}  // namespace bcu::app
