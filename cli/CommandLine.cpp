#include "cli/CommandLine.h"

#include <cstdio>

#include "app/ProgramVersion.h"
#include "cli/Commands.h"
#include "platform/EmbeddedResources.h"

namespace bcu::cli {

std::string VersionText() {
  return app::VersionText("bcu", platform::EmbeddedResources());
}

std::unique_ptr<CLI::App> MakeCommandLine() {
  auto app = std::make_unique<CLI::App>(
      "Brisant Code Updater: puts new code into a radio and keeps its codeplug", "bcu");
  app->require_subcommand(1);
  app->set_help_all_flag("--help-all", "Show help for every subcommand");
  app->set_version_flag(
      "--version",
      [] {
        std::string text = VersionText();
        if (!text.empty() && text.back() == '\n') text.pop_back();  // the parser ends the line
        return text;
      },
      "Print the version and the firmware set's name and release");
  RegisterUpdateCommand(*app);
  RegisterInfoCommand(*app);
  RegisterPortsCommand(*app);
  RegisterDoctorCommand(*app);
  RegisterHistoryCommand(*app);
  RegisterCodeplugCommand(*app);
  RegisterCodeplugTransferCommands(*app);
  RegisterFirmwareCommand(*app);
  RegisterVersionCommand(*app);
  return app;
}

int RunCommandLine(CLI::App& app, int argc, const char* const* argv) {
  if (argc <= 1) {
    std::fputs(app.help().c_str(), stdout);
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --help-all, --version
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace bcu::cli
