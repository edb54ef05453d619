#include "cli/UpdaterSetup.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/ResourceAttributes.h"
#include "platform/EmbeddedResources.h"
#include "platform/HelpWords.h"
#include "platform/ProgramFile.h"

namespace bcu::cli {

namespace {

constexpr const char* kAttributesName = "ResourceAttributes_";

// Resources as another source has them, except for an attributes record of
// our own.
class PatchedResources final : public platform::ResourceSource {
 public:
  PatchedResources(std::shared_ptr<const platform::ResourceSource> base,
                   const app::ResourceAttributes& attributes)
      : base_(std::move(base)) {
    app::EncodeResourceAttributes(attributes, record_.data());
  }
  bool Find(std::string_view type, std::string_view name,
            std::span<const std::uint8_t>& bytes) const override {
    if (platform::ResourceKey(type, name) == platform::ResourceKey("TEXT", kAttributesName)) {
      bytes = std::span<const std::uint8_t>(record_.data(), record_.size());
      return true;
    }
    return base_->Find(type, name, bytes);
  }

 private:
  std::shared_ptr<const platform::ResourceSource> base_;
  std::array<std::uint8_t, app::kResourceAttributesSize> record_{};
};

// The firmware set built into this program (not owned: it lives as long as
// the program).
std::shared_ptr<const platform::ResourceSource> EmbeddedSet() {
  return std::shared_ptr<const platform::ResourceSource>(std::shared_ptr<void>(),
                                                         &platform::EmbeddedResources());
}

}  // namespace

std::shared_ptr<const platform::ResourceSource> UpdaterSetup::Resources() const {
  auto base = EmbeddedSet();
  const bool overridden = !family.empty() || series >= 0 || newPlatform >= 0 || upgradeType >= 0;
  if (!overridden) return base;
  app::ResourceAttributes attributes;
  std::span<const std::uint8_t> stored;
  if (base->Find("TEXT", kAttributesName, stored) && stored.size() >= app::kResourceAttributesSize)
    attributes = app::DecodeResourceAttributes(stored.data());
  if (!family.empty()) attributes.RadioFamily = family == "mobile" ? 1 : 0;
  if (series >= 0) attributes.Series = static_cast<std::uint8_t>(series);
  if (newPlatform >= 0) attributes.NewPlatform = static_cast<std::uint8_t>(newPlatform);
  if (upgradeType >= 0) attributes.UpgradeType = static_cast<std::uint8_t>(upgradeType);
  return std::make_shared<PatchedResources>(std::move(base), attributes);
}

std::vector<std::string> UpdaterSetup::Overrides() const {
  std::vector<std::string> given;
  if (!family.empty()) given.push_back("--family " + family);
  if (series >= 0) given.push_back("--series " + std::to_string(series));
  if (newPlatform >= 0) given.push_back("--new-platform " + std::to_string(newPlatform));
  if (upgradeType >= 0) given.push_back("--upgrade-type " + std::to_string(upgradeType));
  return given;
}

app::CodeUpdaterOptions UpdaterSetup::UpdaterOptions() const {
  app::CodeUpdaterOptions options;
  options.extraDevicePaths = ports;
  return options;
}

void AddPortOption(CLI::App& cmd, UpdaterSetup& setup) {
  cmd.add_option("--port", setup.ports, platform::PortOptionWords())->type_name("DEV");
}

void AddTargetOptions(CLI::App& cmd, UpdaterSetup& setup) {
  cmd.add_option("--family", setup.family, "Radio family the updater is for")
      ->type_name("FAMILY")
      ->check(CLI::IsMember({"portable", "mobile"}));  // the help lists them
  cmd.add_option("--series", setup.series, "Radio series the updater is for (0 to 255)")
      ->type_name("SERIES")
      ->check(Unnamed(CLI::Range(0, 255)));
  cmd.add_option("--new-platform", setup.newPlatform,
                 "New-platform flag of a mobile updater (0 or 1)")
      ->type_name("0|1")
      ->check(Unnamed(CLI::Range(0, 1)));
  cmd.add_option("--upgrade-type", setup.upgradeType,
                 "0 Application, 1 Boot, 2 DSP, 3 Application/Boot")
      ->type_name("TYPE")
      ->check(Unnamed(CLI::Range(0, 3)));
}

CLI::Validator FiniteNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        errno = 0;
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE ||
            !std::isfinite(value))
          return "not a finite number: " + text;
        return {};
      },
      "");
}

CLI::Validator Unnamed(CLI::Validator check) {
  check.description("");
  return check;
}

std::string ProgramPath() {
  return platform::ProgramFilePath("bcu");
}

}  // namespace bcu::cli
