// bcu ports: the port list as the window shows it, with the reason a port
// cannot be used, and what gives access to it on this system.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/CodeUpdater.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/TerminalHost.h"
#include "cli/UpdaterSetup.h"
#include "platform/HelpWords.h"
#include "platform/PortDiscovery.h"

namespace bcu::cli {

namespace {

const char* BoxText(int kind) {
  if (kind == 1) return "6400";
  if (kind == 2) return "6700";
  return "";
}

void RunPorts(const UpdaterSetup& setup, bool json, bool all, Verbosity verbosity) {
  TerminalOptions terminal;
  terminal.quiet = true;
  TerminalHost host(terminal);
  app::CodeUpdaterView view;
  platform::SystemPortDiscovery discovery;
  auto resources = setup.Resources();
  app::CodeUpdater updater(host, view, *resources, setup.programPath, discovery,
                           setup.UpdaterOptions());

  nlohmann::json list = nlohmann::json::array();
  bool anyPresent = false;
  bool permissionProblem = false;
  std::string permissionText;  // what the list says of such a port
  if (!json) std::printf("%-4s %-28s %-9s %-5s %s\n", "slot", "device", "state", "box", "note");
  for (int i = 0; i < platform::kPortSlots; ++i) {
    const auto slot = static_cast<std::size_t>(i);
    const std::string& path = updater.m_PortTable.DevicePath(i + 1);
    if (path.empty() && !all) continue;
    const bool present = updater.m_PortPresent[slot] == 2;
    anyPresent = anyPresent || present;
    const auto& test = updater.m_PortTest[slot];
    const std::string why =
        path.empty() ? std::string("no device") : platform::PortAccessText(test);
    if (!path.empty() && test.access == platform::PortAccess::NoPermission) {
      permissionProblem = true;
      permissionText = why;
    }
    if (json) {
      list.push_back({{"slot", i + 1},
                      {"listText", updater.m_PortItems[slot]},
                      {"device", path},
                      {"present", present},
                      {"free", updater.m_PortState[slot] == 2},
                      {"interfaceBox", BoxText(updater.m_UsbBoxKind[slot])},
                      {"access", why}});
    } else {
      std::printf("%-4d %-28s %-9s %-5s %s\n", i + 1, updater.m_PortItems[slot].c_str(),
                  present ? "free" : "n/a", BoxText(updater.m_UsbBoxKind[slot]), why.c_str());
    }
  }
  if (json) {
    std::printf("%s\n", list.dump(2).c_str());
    return;
  }
  if (!anyPresent) std::printf("No serial port can be opened.\n");
  // The note only where it helps: a port this user may not open (or -v).
  if ((permissionProblem && verbosity != Verbosity::kQuiet) || verbosity == Verbosity::kVerbose)
    std::printf("\n%s%s",
                permissionProblem
                    ? ("Ports marked '" + permissionText + "' cannot be opened by you.\n").c_str()
                    : "",
                platform::PortAccessNote());
}

}  // namespace

void RegisterPortsCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand("ports", "List the serial ports and whether they can be used");
  auto setup = std::make_shared<UpdaterSetup>();
  auto json = std::make_shared<bool>(false);
  auto all = std::make_shared<bool>(false);
  AddJsonFlag(*cmd, *json, "Print the list");
  cmd->add_flag("--all", *all, "List all 64 slots, also those without a device");
  AddPortOption(*cmd, *setup);
  cmd->footer(platform::PortAccessFooter());
  cmd->callback([setup, json, all, cmd] {
    setup->programPath = ProgramPath();
    RunPorts(*setup, *json, *all, VerbosityOf(*cmd));
  });
}

}  // namespace bcu::cli
