#include "app/FirmwareSetIdentity.h"

namespace bcu::app {
namespace {

std::string Text(const platform::ResourceSource& resources, const char* name) {
  std::span<const std::uint8_t> bytes;
  if (!resources.Find("TEXT", name, bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

FirmwareSetIdentity ReadFirmwareSetIdentity(const platform::ResourceSource& resources) {
  return {Text(resources, kSetNameResource), Text(resources, kSetReleaseResource)};
}

}  // namespace bcu::app
