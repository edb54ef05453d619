#pragma once
// The program's own resources (the embedded firmware set): named byte blocks of
// a type, looked up by name without regard to case. The executables link the
// set compiled into them; tests supply resources from memory.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bcu::platform {

class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  // The bytes of resource `name` of `type` ("TEXT"); false when there is none.
  virtual bool Find(std::string_view type, std::string_view name,
                    std::span<const std::uint8_t>& bytes) const = 0;
};

// Resources held in memory.
class MemoryResources final : public ResourceSource {
 public:
  void Add(std::string_view type, std::string_view name, std::vector<std::uint8_t> bytes);
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override;

 private:
  std::map<std::string, std::vector<std::uint8_t>> items_;  // key: TYPE/NAME upper case
};

// Upper-case key under which a resource is filed.
std::string ResourceKey(std::string_view type, std::string_view name);

}  // namespace bcu::platform
