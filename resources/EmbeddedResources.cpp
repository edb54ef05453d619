#include "platform/EmbeddedResources.h"

#include <cctype>
#include <cstdint>
#include <cstring>

// The table written by bcu-fwtool (EmbeddedTable.S): offsets from bcu_fw_base.
extern "C" {
struct BcuFirmwareEntry {
  std::uint64_t nameOffset;
  std::uint64_t dataOffset;
  std::uint64_t size;
};
extern const unsigned char bcu_fw_base[];
extern const std::uint64_t bcu_fw_count;
extern const BcuFirmwareEntry bcu_fw_table[];
}

namespace bcu::platform {
namespace {

bool SameTextNoCase(std::string_view a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

class EmbeddedResourceSource final : public ResourceSource {
 public:
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override {
    if (!SameTextNoCase(type, "TEXT")) return false;
    for (std::uint64_t i = 0; i < bcu_fw_count; ++i) {
      const auto& e = bcu_fw_table[i];
      if (!SameTextNoCase(name, reinterpret_cast<const char*>(bcu_fw_base + e.nameOffset)))
        continue;
      bytes = std::span<const std::uint8_t>(bcu_fw_base + e.dataOffset, e.size);
      return true;
    }
    return false;
  }
};

}  // namespace

const ResourceSource& EmbeddedResources() {
  static const EmbeddedResourceSource source;  // stateless
  return source;
}

}  // namespace bcu::platform
