#include "platform/Resources.h"

#include <cctype>

namespace bcu::platform {

std::string ResourceKey(std::string_view type, std::string_view name) {
  std::string key;
  key.reserve(type.size() + name.size() + 1);
  for (char c : type) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  key += '/';
  for (char c : name) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

void MemoryResources::Add(std::string_view type, std::string_view name,
                          std::vector<std::uint8_t> bytes) {
  items_[ResourceKey(type, name)] = std::move(bytes);
}

bool MemoryResources::Find(std::string_view type, std::string_view name,
                           std::span<const std::uint8_t>& bytes) const {
  auto it = items_.find(ResourceKey(type, name));
  if (it == items_.end()) return false;
  bytes = std::span<const std::uint8_t>(it->second.data(), it->second.size());
  return true;
}

}  // namespace bcu::platform
