#include "app/ResourceAttributes.h"

#include <cstring>

namespace bcu::app {
namespace {

std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void PutI32(std::uint8_t* p, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

}  // namespace

ResourceAttributes DecodeResourceAttributes(const std::uint8_t* b) {
  ResourceAttributes a;
  std::int32_t* ints[] = {
      &a.LoaderChunks,           &a.CodeChunks,           &a.BootLoaderChunks, &a.BootCodeChunks,
      &a.SecondBootLoaderChunks, &a.SecondBootCodeChunks, &a.BootMajor,        &a.BootMinor,
      &a.SecondBootMajor,        &a.SecondBootMinor};
  for (int i = 0; i < 10; ++i) *ints[i] = GetI32(b + 4 * i);
  std::memcpy(a.ConfigDeskVersion, b + 40, 10);
  std::memcpy(a.TuneDeskVersion, b + 50, 10);
  a.RadioFamily = b[60];
  a.NewPlatform = b[61];
  a.Series = b[62];
  a.UpgradeType = b[63];
  a.Processor416 = b[64];
  std::memcpy(a.Tag, b + 65, 3);
  return a;
}

void EncodeResourceAttributes(const ResourceAttributes& a, std::uint8_t* b) {
  const std::int32_t ints[] = {
      a.LoaderChunks,           a.CodeChunks,           a.BootLoaderChunks, a.BootCodeChunks,
      a.SecondBootLoaderChunks, a.SecondBootCodeChunks, a.BootMajor,        a.BootMinor,
      a.SecondBootMajor,        a.SecondBootMinor};
  for (int i = 0; i < 10; ++i) PutI32(b + 4 * i, ints[i]);
  std::memcpy(b + 40, a.ConfigDeskVersion, 10);
  std::memcpy(b + 50, a.TuneDeskVersion, 10);
  b[60] = a.RadioFamily;
  b[61] = a.NewPlatform;
  b[62] = a.Series;
  b[63] = a.UpgradeType;
  b[64] = a.Processor416;
  std::memcpy(b + 65, a.Tag, 3);
}

std::string AttributeText(const char (&field)[10]) {
  std::size_t n = 0;
  while (n < sizeof field && field[n] != '\0') ++n;
  return std::string(field, n);
}

const char* UpgradeTypeName(std::uint8_t type) {
  switch (type) {
    case kUpgradeApplication:
      return "Application";
    case kUpgradeBoot:
      return "Boot";
    case kUpgradeDsp:
      return "DSP";
    case kUpgradeApplicationBoot:
      return "Application/Boot";
    default:
      return "";
  }
}

}  // namespace bcu::app
