#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "app/EmbeddedFiles.h"
#include "app/FirmwareSetIdentity.h"
#include "app/ProgramVersion.h"
#include "app/ResourceAttributes.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "platform/EmbeddedResources.h"

namespace bcu::cli {

void RegisterVersionCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("version", "Print the updater's version (as --version)");
  auto json = std::make_shared<bool>(false);
  AddJsonFlag(*cmd, *json, "Print the program's version and the firmware set it carries");
  cmd->callback([json] {
    if (!*json) {
      std::fputs(VersionText().c_str(), stdout);
      return;
    }
    const auto& set = platform::EmbeddedResources();
    const app::FirmwareSetIdentity identity = app::ReadFirmwareSetIdentity(set);
    nlohmann::ordered_json j;
    j["program"] = "bcu";
    j["programVersion"] = app::ProgramVersion();
    j["firmwareSetName"] = identity.name;
    j["firmwareSetRelease"] = identity.release;
    app::ResourceAttributes a;
    if (app::ReadResourceAttributes(set, a)) {
      j["upgradeType"] = app::UpgradeTypeName(a.UpgradeType);
      j["radioFamily"] = a.RadioFamily == 0 ? "portable" : "mobile";
      j["series"] = a.Series;
      j["bootVersion"] = std::to_string(a.BootMajor) + "." + std::to_string(a.BootMinor);
    }
    std::printf("%s\n", j.dump(2).c_str());
  });
}

}  // namespace bcu::cli
