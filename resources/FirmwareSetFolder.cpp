#include "resources/FirmwareSetFolder.h"

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace bcu::resources {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Resources held in memory under upper-case names, all of type "TEXT".
class SetResources final : public platform::ResourceSource {
 public:
  void Add(std::string name, std::string bytes) {
    items_[Upper(name)] = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override {
    if (Upper(type) != "TEXT") return false;
    const auto it = items_.find(Upper(name));
    if (it == items_.end()) return false;
    bytes = std::span<const std::uint8_t>(it->second.data(), it->second.size());
    return true;
  }

 private:
  std::map<std::string, std::vector<std::uint8_t>> items_;
};

}  // namespace

std::shared_ptr<const platform::ResourceSource> LoadFirmwareSet(
    const std::filesystem::path& dir, std::string& error, FirmwareSetDescription* description) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    error = dir.string() + ": not a folder";
    return nullptr;
  }
  FirmwareSetDescription d;
  if (!ReadAttributesJson(dir / "attributes.json", d, error)) return nullptr;
  if (description != nullptr) *description = d;
  std::map<std::string, std::filesystem::path> chunks;
  if (!CheckFirmwareSet(dir, d.attributes, chunks, error)) {
    error = dir.string() + ": " + error;
    return nullptr;
  }
  auto set = std::make_shared<SetResources>();
  for (const auto& [name, file] : chunks) {
    std::string bytes;
    if (!ReadChunkFile(file, false, bytes, error)) return nullptr;
    set->Add(name, bytes);
  }
  for (auto& [name, bytes] : DescriptionResources(d)) set->Add(name, bytes);
  return set;
}

}  // namespace bcu::resources
