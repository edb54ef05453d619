// bcu info: what the Retrieve button shows in the version panel.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/CodeUpdater.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "cli/UpdaterSetup.h"
#include "platform/PortDiscovery.h"

namespace bcu::cli {

namespace {

class PanelView final : public app::CodeUpdaterView {
 public:
  void VersionPanelChanged() override { filled = true; }
  bool filled = false;
};

struct InfoArgs {
  UpdaterSetup setup;
  std::string port;
  bool json = false;
  double delayScale = 1.0;
};

int RunInfo(InfoArgs& args) {
  TerminalOptions terminal;
  terminal.quiet = true;
  terminal.delayScale = args.delayScale;
  TerminalHost host(terminal);
  TerminalHost::InstallInterruptHandler();
  PanelView view;
  platform::SystemPortDiscovery discovery;
  args.setup.ports.insert(args.setup.ports.begin(), args.port);
  auto resources = args.setup.Resources();
  app::CodeUpdater updater(host, view, *resources, args.setup.programPath, discovery,
                           args.setup.UpdaterOptions());
  host.onInterrupt = [&updater] { updater.RequestStop(); };

  // The named port is the first slot.
  updater.SelectPortItem(0);
  updater.m_RetrieveVersionInfoButtonClick();
  if (!view.filled) return kExitFailure;

  const auto& panel = updater.m_VersionPanel;
  if (args.json) {
    const nlohmann::json out{
        {"FileVersionLabel", panel.FileVersionLabel},
        {"DSPVersionLabel", panel.DSPVersionLabel},
        {"HWControllerVersionHeadingLabel", panel.HWControllerVersionHeadingLabel},
        {"HWControllerVersionLabel", panel.HWControllerVersionLabel},
        {"HWRevisionLabel", panel.HWRevisionLabel},
        {"SerialNumberLabel", panel.SerialNumberLabel},
        {"BootLoadVersionLabel", panel.BootLoadVersionLabel},
        {"SEMVersionLabel", panel.SEMVersionLabel},
    };
    std::printf("%s\n", out.dump(2).c_str());
    return kExitOk;
  }
  const std::pair<std::string, const std::string*> rows[] = {
      {"File Format Version:", &panel.FileVersionLabel},
      {"DSP Software Version:", &panel.DSPVersionLabel},
      {panel.HWControllerVersionHeadingLabel, &panel.HWControllerVersionLabel},
      {"Hardware Revision:", &panel.HWRevisionLabel},
      {"Radio Serial Number:", &panel.SerialNumberLabel},
      {"Boot Load Version:", &panel.BootLoadVersionLabel},
      {"SEM Version:", &panel.SEMVersionLabel},
  };
  for (const auto& [heading, value] : rows)
    std::printf("%-22s %s\n", heading.c_str(), value->c_str());
  return kExitOk;
}

}  // namespace

void RegisterInfoCommand(CLI::App& app) {
  auto* cmd =
      app.add_subcommand("info", "Read the connected radio's version information (Retrieve)");
  auto args = std::make_shared<InfoArgs>();
  cmd->add_option("--port", args->port, "Serial device of the radio")->required();
  cmd->add_flag("--json", args->json, "Print the panel's texts as JSON");
  cmd->add_option("--delay-scale", args->delayScale,
                  "Real time per clock time of fixed waits (a Retrieve has none); reply "
                  "time-outs are never scaled")
      ->check(FiniteNumber())
      ->check(CLI::PositiveNumber);
  AddTargetOptions(*cmd, args->setup);
  cmd->callback([args] {
    args->setup.programPath = ProgramPath();
    const int code = RunInfo(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
