// bcu info: the radio's version information, as the window's version panel
// shows it.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/CodeUpdater.h"
#include "cli/Commands.h"
#include "cli/Output.h"
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
  Verbosity verbosity = Verbosity::kNormal;
};

int RunInfo(InfoArgs& args) {
  // Status lines (the port and why it failed, an interface box that did not
  // answer) go to stderr before the box that says the rest; stdout keeps
  // the panel or the JSON document alone.
  TerminalOptions terminal;
  terminal.quiet = args.verbosity == Verbosity::kQuiet;
  terminal.out = stderr;
  terminal.delayScale = args.delayScale;
  terminal.timestamps = args.verbosity == Verbosity::kVerbose;
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
  Detail(args.verbosity, "port: " + args.port + ", reading the radio's version information");
  updater.m_RetrieveVersionInfoButtonClick();
  // The message box has said why: the port could not be opened, or nothing
  // (sensible) answered on it.
  if (!view.filled) {
    const bool stopped = TerminalHost::Interrupted();
    std::string why = app::OneLine(host.LastMessage());
    // The box said what the window says; the port and the system's reason
    // follow it.
    if (!updater.m_PortProblem.empty()) {
      std::fprintf(stderr, "bcu info: %s\n", updater.m_PortProblem.c_str());
      why += " (" + updater.m_PortProblem + ")";
    }
    FailShown(args.json, stopped ? kExitStopped : kExitPort,
              stopped ? std::string("stopped") : why);
  }

  const auto& panel = updater.m_VersionPanel;
  if (args.json) {
    const nlohmann::ordered_json out{
        {"port", args.port},
        {"fileFormatVersion", panel.FileVersionLabel},
        {"dspSoftwareVersion", panel.DSPVersionLabel},
        {"controllerVersionHeading", panel.HWControllerVersionHeadingLabel},
        {"controllerVersion", panel.HWControllerVersionLabel},
        {"hardwareRevision", panel.HWRevisionLabel},
        {"serialNumber", panel.SerialNumberLabel},
        {"bootVersion", panel.BootLoadVersionLabel},
        {"semVersion", panel.SEMVersionLabel},
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
  auto* cmd = app.add_subcommand("info", "Read the connected radio's version information");
  auto args = std::make_shared<InfoArgs>();
  cmd->add_option("--port", args->port, "Serial device of the radio")->type_name("DEV")->required();
  AddJsonFlag(*cmd, args->json, "Print the version information");
  cmd->add_option("--delay-scale", args->delayScale,
                  "Real time per clock time of fixed waits (a Retrieve has none); reply "
                  "time-outs are never scaled")
      ->type_name("SCALE")
      ->check(FiniteNumber())
      ->check(Unnamed(CLI::PositiveNumber));
  AddTargetOptions(*cmd, args->setup);
  cmd->footer(
      "Exit codes as in `bcu --help`; 4: the port could not be opened or nothing answered.");
  cmd->callback([args, cmd] {
    args->verbosity = VerbosityOf(*cmd);
    args->setup.programPath = ProgramPath();
    const int code = RunInfo(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
