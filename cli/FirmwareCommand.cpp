// bcu firmware info | export DIR: what firmware set this build carries.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "app/EmbeddedFiles.h"
#include "app/FirmwareSetIdentity.h"
#include "app/ResourceAttributes.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "link/SRecord.h"
#include "platform/EmbeddedResources.h"

namespace bcu::cli {
namespace {

struct ChunkFigures {
  std::size_t bytes = 0;
  std::size_t records = 0;
  std::size_t dataBytes = 0;
};

// Counts the lines and the S1/S2/S3 data bytes of S-record text.
ChunkFigures Figures(std::span<const std::uint8_t> bytes, bool binary) {
  ChunkFigures f;
  f.bytes = bytes.size();
  if (binary) return f;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    ++f.records;
    const int kind = link::SRecordKind(line);
    if (kind >= link::kSRecordS1 && kind <= link::kSRecordS3)
      f.dataBytes += static_cast<std::size_t>(std::max(0, link::SRecordDataLength(line)));
  }
  return f;
}

app::ResourceAttributes Attributes(bool json = false) {
  app::ResourceAttributes a;
  if (!app::ReadResourceAttributes(platform::EmbeddedResources(), a) && !json)
    std::printf("This build carries no attributes record.\n");
  return a;
}

std::string Dotted(int major, int minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

// The set's attributes and the figures of every chunk, as JSON.
nlohmann::ordered_json InfoJson() {
  const auto& resources = platform::EmbeddedResources();
  app::ResourceAttributes a;
  const bool haveAttributes = app::ReadResourceAttributes(resources, a);
  const app::FirmwareSetIdentity identity = app::ReadFirmwareSetIdentity(resources);
  nlohmann::ordered_json j;
  j["name"] = identity.name;
  j["release"] = identity.release;
  j["hasAttributes"] = haveAttributes;
  j["upgradeType"] = app::UpgradeTypeName(a.UpgradeType);
  j["upgradeTypeCode"] = a.UpgradeType;
  j["radioFamily"] = a.RadioFamily == 0 ? "portable" : "mobile";
  j["newPlatform"] = a.NewPlatform;
  j["series"] = a.Series;
  j["processor"] = a.Processor416 ? "416" : "816";
  j["bootVersion"] = Dotted(a.BootMajor, a.BootMinor);
  j["secondBootVersion"] =
      a.SecondBootMajor == 0 ? std::string() : Dotted(a.SecondBootMajor, a.SecondBootMinor);
  j["configDeskVersion"] = app::AttributeText(a.ConfigDeskVersion);
  j["tuneDeskVersion"] = app::AttributeText(a.TuneDeskVersion);
  j["tag"] = std::string(a.Tag, strnlen(a.Tag, 3));
  nlohmann::ordered_json images = nlohmann::ordered_json::array();
  for (const auto& image : app::EmbeddedImages(a)) {
    if (image.chunks <= 0) continue;
    const bool binary = image.resourceBase == "Code" && a.UpgradeType == app::kUpgradeDsp;
    nlohmann::ordered_json chunks = nlohmann::ordered_json::array();
    for (int n = 1; n <= image.chunks; ++n) {
      const std::string name = image.resourceBase + "_" + std::to_string(n);
      std::span<const std::uint8_t> bytes;
      if (!resources.Find("TEXT", name, bytes)) {
        chunks.push_back({{"name", name}, {"missing", true}});
        continue;
      }
      const ChunkFigures f = Figures(bytes, binary);
      chunks.push_back(
          {{"name", name}, {"bytes", f.bytes}, {"records", f.records}, {"dataBytes", f.dataBytes}});
    }
    images.push_back({{"image", image.resourceBase},
                      {"binary", binary},
                      {"chunkCount", image.chunks},
                      {"chunks", chunks}});
  }
  j["images"] = images;
  return j;
}

void Info() {
  const auto& resources = platform::EmbeddedResources();
  const app::ResourceAttributes a = Attributes();
  std::printf("Upgrade type        %s (%u)\n", app::UpgradeTypeName(a.UpgradeType), a.UpgradeType);
  std::printf("Radio family        %u (%s)\n", a.RadioFamily,
              a.RadioFamily == 0 ? "portable, 6400" : "mobile, 6700");
  std::printf("New platform        %u\n", a.NewPlatform);
  std::printf("Series              %u\n", a.Series);
  std::printf("Processor           %s\n", a.Processor416 ? "416" : "816");
  std::printf("Boot version        %d.%d\n", a.BootMajor, a.BootMinor);
  std::printf("Second boot line    %d.%d%s\n", a.SecondBootMajor, a.SecondBootMinor,
              a.SecondBootMajor == 0 ? " (none)" : "");
  std::printf("ConfigDesk version  %s\n", app::AttributeText(a.ConfigDeskVersion).c_str());
  std::printf("TuneDesk version    %s\n", app::AttributeText(a.TuneDeskVersion).c_str());
  std::printf("Tag                 %.3s\n", a.Tag);
  for (const auto& image : app::EmbeddedImages(a)) {
    if (image.chunks <= 0) continue;
    const bool binary = image.resourceBase == "Code" && a.UpgradeType == app::kUpgradeDsp;
    ChunkFigures total;
    std::printf("\n%s: %d chunk(s)\n", image.resourceBase.c_str(), image.chunks);
    for (int n = 1; n <= image.chunks; ++n) {
      const std::string name = image.resourceBase + "_" + std::to_string(n);
      std::span<const std::uint8_t> bytes;
      if (!resources.Find("TEXT", name, bytes)) {
        std::printf("  %-18s missing\n", name.c_str());
        continue;
      }
      const ChunkFigures f = Figures(bytes, binary);
      total.bytes += f.bytes;
      total.records += f.records;
      total.dataBytes += f.dataBytes;
      if (binary)
        std::printf("  %-18s %10zu bytes (DSP object)\n", name.c_str(), f.bytes);
      else
        std::printf("  %-18s %10zu bytes %8zu records %10zu data bytes\n", name.c_str(), f.bytes,
                    f.records, f.dataBytes);
    }
    if (!binary)
      std::printf("  %-18s %10zu bytes %8zu records %10zu data bytes\n", "image", total.bytes,
                  total.records, total.dataBytes);
  }
}

void Export(const std::string& dir, Verbosity verbosity, bool json) {
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  const app::ResourceAttributes a = Attributes();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  for (const auto& image : app::EmbeddedImages(a)) {
    if (image.chunks <= 0) continue;
    const bool dsp = image.resourceBase == "Code" && a.UpgradeType == app::kUpgradeDsp;
    const std::string path =
        (std::filesystem::path(dir) / (image.resourceBase + (dsp ? ".OUT" : ".hex"))).string();
    std::string error;
    if (!app::WriteEmbeddedImage(platform::EmbeddedResources(), image, path, error))
      Fail(kExitFileError, error);
    files.push_back(path);
    if (!json && verbosity != Verbosity::kQuiet) std::printf("%s\n", path.c_str());
  }
  if (json) std::printf("%s\n", nlohmann::ordered_json{{"files", files}}.dump(2).c_str());
}

}  // namespace

void RegisterFirmwareCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("firmware", "The firmware set this build carries");
  cmd->require_subcommand(1);
  auto* info = cmd->add_subcommand("info", "Print the attributes and the chunks of every image");
  auto json = std::make_shared<bool>(false);
  AddJsonFlag(*info, *json, "Print the attributes and chunks");
  info->callback([json] {
    if (*json)
      std::printf("%s\n", InfoJson().dump(2).c_str());
    else
      Info();
  });
  auto* exp = cmd->add_subcommand("export", "Write the joined images (Loader.hex, Code.hex ...)");
  auto dir = std::make_shared<std::string>();
  exp->add_option("DIR", *dir, "Folder to write into")->type_name("DIR")->required();
  auto exportJson = std::make_shared<bool>(false);
  AddJsonFlag(*exp, *exportJson, "Print the files written");
  exp->callback([dir, exp, exportJson] { Export(*dir, VerbosityOf(*exp), *exportJson); });
}

}  // namespace bcu::cli
