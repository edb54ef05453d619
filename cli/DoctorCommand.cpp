// bcu doctor: checks one serial port for what keeps an update from working
// (permission, another program, ModemManager, the adapter's latency timer,
// RS-485 switching, the interface box and the radio), each line with a fix.
// Exit code 0 when every check is OK, 1 when any reports a problem.
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/EmbeddedFiles.h"
#include "app/PortDoctor.h"
#include "app/ResourceAttributes.h"
#include "cli/Commands.h"
#include "cli/UpdaterSetup.h"
#include "platform/SystemInfo.h"

namespace bcu::cli {

namespace {

struct DoctorArgs {
  UpdaterSetup setup;
  std::string port;
  bool json = false;
};

int RunDoctor(const DoctorArgs& args) {
  app::ResourceAttributes attributes;
  app::ReadResourceAttributes(*args.setup.Resources(), attributes);
  app::DoctorOptions options;
  options.radioFamily = attributes.RadioFamily;
  options.processors = platform::LogicalProcessorCount();
  const auto checks = app::RunPortDoctor(args.port, options);
  const bool ok = app::DoctorAllOk(checks);

  if (args.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& c : checks) {
      std::string status = app::DoctorStatusText(c.status);
      for (auto& ch : status) ch = static_cast<char>(std::tolower(ch));
      list.push_back({{"name", c.name}, {"status", status}, {"detail", c.detail}, {"fix", c.fix}});
    }
    const nlohmann::json out{{"port", args.port}, {"ok", ok}, {"checks", list}};
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    for (const auto& c : checks) {
      std::printf("%-8s %-13s %s\n", app::DoctorStatusText(c.status), c.name.c_str(),
                  c.detail.c_str());
      if (!c.fix.empty()) std::printf("%-8s %-13s fix: %s\n", "", "", c.fix.c_str());
    }
    std::printf(ok ? "No problem found on %s.\n" : "Problems found on %s.\n", args.port.c_str());
  }
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

void RegisterDoctorCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "doctor", "Check a serial port for what would keep an update from working, with fixes");
  auto args = std::make_shared<DoctorArgs>();
  cmd->add_option("--port", args->port, "Serial device to check")->required();
  cmd->add_flag("--json", args->json, "Print the checks as JSON");
  AddTargetOptions(*cmd, args->setup);
  cmd->footer(
      "Exit code 0 when every check is OK, 1 when any reports a problem. The box probe and the "
      "radio's identity requests take up to about 5 s when nothing answers.");
  cmd->callback([args] {
    args->setup.programPath = ProgramPath();
    const int code = RunDoctor(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
