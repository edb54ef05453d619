// bcu doctor: checks one serial port for what keeps an update from working
// (permission, another program, ModemManager, the adapter's latency timer,
// RS-485 switching, the interface box and the radio), each line with a fix.
// Exit code 0 when every check is OK; the port error code when the port
// cannot be opened (missing, forbidden, held by another program); the general
// failure code when any other check reports a problem.
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/EmbeddedFiles.h"
#include "app/PortDoctor.h"
#include "app/ResourceAttributes.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/UpdaterSetup.h"
#include "platform/SystemInfo.h"

namespace bcu::cli {

namespace {

struct DoctorArgs {
  UpdaterSetup setup;
  std::string port;
  bool json = false;
  Verbosity verbosity = Verbosity::kNormal;
};

// Checks that fail when the port itself cannot be opened.
bool IsPortCheck(const std::string& name) {
  return name == "device" || name == "permission" || name == "holder";
}

int RunDoctor(const DoctorArgs& args) {
  app::ResourceAttributes attributes;
  app::ReadResourceAttributes(*args.setup.Resources(), attributes);
  app::DoctorOptions options;
  options.radioFamily = attributes.RadioFamily;
  options.processors = platform::LogicalProcessorCount();
  const auto checks = app::RunPortDoctor(args.port, options);
  const bool ok = app::DoctorAllOk(checks);
  int code = kExitOk;
  std::string failure;
  for (const auto& c : checks) {
    if (c.status != app::DoctorStatus::Problem) continue;
    if (failure.empty()) failure = c.name + ": " + c.detail;
    if (IsPortCheck(c.name)) {
      code = kExitPort;
      failure = c.name + ": " + c.detail;
      break;
    }
    code = kExitFailure;
  }

  if (args.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& c : checks) {
      std::string status = app::DoctorStatusText(c.status);
      for (auto& ch : status) ch = static_cast<char>(std::tolower(ch));
      list.push_back({{"name", c.name}, {"status", status}, {"detail", c.detail}, {"fix", c.fix}});
    }
    nlohmann::ordered_json out;
    if (code != kExitOk) out["error"] = ErrorObject(code, failure);
    out["port"] = args.port;
    out["ok"] = ok;
    out["checks"] = list;
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    const bool quiet = args.verbosity == Verbosity::kQuiet;
    for (const auto& c : checks) {
      if (quiet && c.status != app::DoctorStatus::Problem) continue;
      std::printf("%-8s %-13s %s\n", app::DoctorStatusText(c.status), c.name.c_str(),
                  c.detail.c_str());
      if (!c.fix.empty()) std::printf("%-8s %-13s fix: %s\n", "", "", c.fix.c_str());
    }
    if (!quiet || !ok)
      std::printf(ok ? "No problem found on %s.\n" : "Problems found on %s.\n", args.port.c_str());
  }
  return code;
}

}  // namespace

void RegisterDoctorCommand(CLI::App& app) {
  auto* cmd = app.add_subcommand(
      "doctor", "Check a serial port for what would keep an update from working, with fixes");
  auto args = std::make_shared<DoctorArgs>();
  cmd->add_option("--port", args->port, "Serial device to check")->type_name("DEV")->required();
  AddJsonFlag(*cmd, args->json, "Print the checks");
  AddTargetOptions(*cmd, args->setup);
  cmd->footer(
      "Exit codes as in `bcu --help`: 0 every check is OK, 4 the port cannot be opened (missing, "
      "forbidden or held by another program), 1 another check reports a problem. The box probe "
      "and the radio's identity requests take up to about 5 s when nothing answers.");
  cmd->callback([args, cmd] {
    args->verbosity = VerbosityOf(*cmd);
    args->setup.programPath = ProgramPath();
    const int code = RunDoctor(*args);
    if (code != kExitOk) throw CLI::RuntimeError(code);
  });
}

}  // namespace bcu::cli
